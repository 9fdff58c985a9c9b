#include "UiTestHarness.h"
#include "app/AppDelegate.h"
#include "ui/ContentView.h"
#include "ui/MainWindow.h"
#include "ui/ToolActionButton.h"

#include <QApplication>
#include <QCheckBox>
#include <QStyle>
#include <QTest>

using namespace Qt::StringLiterals;

class TestAppShell : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void fixesTheLightLookOverADarkDesktop();
    void ignoresAnyOtherObject();
    void opensOneWindowAtItsDefaultSize();
    void placesTheButtonsInTheColumn();
};

void TestAppShell::fixesTheLightLookOverADarkDesktop()
{
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(30, 30, 30));
    dark.setColor(QPalette::WindowText, Qt::white);
    QApplication::setPalette(dark);

    AppDelegate::applicationWillFinishLaunching(qApp);
    QCOMPARE(QApplication::style()->name(), u"fusion"_s);
    QVERIFY(QApplication::palette().color(QPalette::Window).lightness() > 200);
    QVERIFY(QApplication::palette().color(QPalette::WindowText).lightness() < 60);
}

void TestAppShell::ignoresAnyOtherObject()
{
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(30, 30, 30));
    QApplication::setPalette(dark);
    QObject stranger;
    AppDelegate::applicationWillFinishLaunching(&stranger);
    AppDelegate::applicationWillFinishLaunching(nullptr);
    QCOMPARE(QApplication::palette().color(QPalette::Window), QColor(30, 30, 30));
}

void TestAppShell::opensOneWindowAtItsDefaultSize()
{
    UiTestHarness harness;
    MainWindow& window = harness.window();
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QCOMPARE(window.windowTitle(), u"Tavix Flash Tool"_s);
    QCOMPARE(window.objectName(), u"main"_s);
    QCOMPARE(window.size(), QSize(900, 630));
    QCOMPARE(window.minimumSize(), QSize(900, 630));
    QCOMPARE(window.maximumSize(), QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));

    window.resize(300, 300);  // cannot go below the content's minimum
    QTRY_COMPARE(window.size(), QSize(900, 630));
    window.resize(1400, 900);
    QTRY_COMPARE(window.size(), QSize(1400, 900));
}

void TestAppShell::placesTheButtonsInTheColumn()
{
    UiTestHarness harness;
    harness.window().show();
    QVERIFY(QTest::qWaitForWindowExposed(&harness.window()));
    for (const QString& name : {u"burnButton"_s, u"eraseButton"_s}) {
        const auto* button = harness.view().findChild<ToolActionButton*>(name);
        QCOMPARE(button->size(), QSize(324, 52));
        QCOMPARE(button->mapTo(&harness.view(), QPoint(0, 0)).x(), 16);
    }
}

QTEST_MAIN(TestAppShell)
#include "tst_appshell.moc"
