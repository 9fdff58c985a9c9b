#include "UiTestHarness.h"
#include "flash/ESPToolManager.h"
#include "ui/ConsoleLogPanel.h"
#include "ui/ContentView.h"
#include "ui/ElidedLabel.h"
#include "ui/MainWindow.h"
#include "ui/ToolActionButton.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QTest>

using namespace Qt::StringLiterals;

// Clicks "Burn" in a shown window and watches what a user would see while the fake flasher runs.
class TestFlashFromWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void showsARunFromClickToEnd_data();
    void showsARunFromClickToEnd();
};

void TestFlashFromWindow::showsARunFromClickToEnd_data()
{
    QTest::addColumn<int>("exitStatus");
    QTest::addColumn<QString>("finalStatus");
    QTest::newRow("success") << 0 << u"Status: Ready"_s;
    QTest::newRow("failure") << 2 << u"Status: Failed"_s;
}

void TestFlashFromWindow::showsARunFromClickToEnd()
{
    QFETCH(int, exitStatus);
    QFETCH(QString, finalStatus);

    FakeEsptoolHome::setPlan({u"out Connecting....\\n"_s, u"sleep 100"_s,
                              u"out Writing at 0x00000000... (25 %)\\n"_s, u"sleep 100"_s,
                              u"out Writing at 0x00004000... (50 %)\\n"_s, u"sleep 100"_s,
                              u"out Writing at 0x00008000... (75 %)\\n"_s, u"sleep 100"_s,
                              u"exit %1"_s.arg(exitStatus)});
    UiTestHarness harness;
    harness.plug(u"/dev/ttyUSB0"_s, u"Silicon Labs"_s, u"CP2102"_s);
    harness.window().show();
    QVERIFY(QTest::qWaitForWindowExposed(&harness.window()));

    ContentView& view = harness.view();
    auto* status = view.findChild<ElidedLabel*>(u"statusLabel"_s);
    auto* log = view.findChild<QPlainTextEdit*>(u"consoleLog"_s);
    const QList<QWidget*> controls{view.findChild<QComboBox*>(u"portMenu"_s),
                                   view.findChild<QComboBox*>(u"baudMenu"_s),
                                   view.findChild<QCheckBox*>(u"consoleCheckBox"_s),
                                   view.findChild<ToolActionButton*>(u"burnButton"_s),
                                   view.findChild<ToolActionButton*>(u"eraseButton"_s)};

    QStringList statuses;
    QList<int> logLengths;
    bool controlsDisabledWhileRunning = true;
    connect(&view.espTool(), &ESPToolManager::statusTextChanged, this, [&] {
        // Read back from the widgets after the window has handled the change.
        QMetaObject::invokeMethod(
            this,
            [&] {
                statuses.append(status->text());
                logLengths.append(int(log->toPlainText().size()));
                if (view.espTool().isRunning()) {
                    for (QWidget* control : controls)
                        controlsDisabledWhileRunning &= !control->isEnabled();
                }
            },
            Qt::QueuedConnection);
    });

    QTest::mouseClick(controls.at(3), Qt::LeftButton);
    QTRY_VERIFY(view.espTool().isRunning());
    QTRY_VERIFY_WITH_TIMEOUT(!view.espTool().isRunning(), 20000);
    QTRY_COMPARE(status->text(), finalStatus);

    QVERIFY(controlsDisabledWhileRunning);
    QCOMPARE(statuses.mid(1, 3), (QStringList{u"Status: Flashing 25%"_s, u"Status: Flashing 50%"_s,
                                              u"Status: Flashing 75%"_s}));
    QVERIFY(std::is_sorted(logLengths.cbegin(), logLengths.cend()));
    QVERIFY(logLengths.at(1) < logLengths.at(3));
    for (QWidget* control : controls)
        QVERIFY(control->isEnabled());
    QCOMPARE(log->toPlainText(), view.espTool().esptoolLog());
}

QTEST_MAIN(TestFlashFromWindow)
#include "tst_flashfromwindow.moc"
