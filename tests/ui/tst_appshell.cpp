#include "app/AppDelegate.h"

#include <QApplication>
#include <QTest>

class TestAppShell : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // The window's colours are made for a light background, whatever the desktop's theme.
    void fixesTheLightLookOverDarkDesktops()
    {
        QPalette dark;
        dark.setColor(QPalette::Window, QColor(30, 30, 30));
        dark.setColor(QPalette::WindowText, Qt::white);
        QApplication::setPalette(dark);
        QObject stranger;
        tavix::AppDelegate::applicationWillFinishLaunching(&stranger);
        tavix::AppDelegate::applicationWillFinishLaunching(nullptr);
        QCOMPARE(QApplication::palette().color(QPalette::Window), QColor(30, 30, 30));

        tavix::AppDelegate::applicationWillFinishLaunching(qApp);
        QVERIFY(QApplication::palette().color(QPalette::Window).lightness() > 200);
        QVERIFY(QApplication::palette().color(QPalette::WindowText).lightness() < 60);
    }
};

QTEST_MAIN(TestAppShell)
#include "tst_appshell.moc"
