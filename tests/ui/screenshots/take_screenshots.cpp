// Shows the real window on the X display it is given (Xvfb in tools/screenshots.sh), with the
// build's own flasher and a simulated board (esp32-sim) behind it, puts it through the states a
// user sees, and saves a picture of each:
//   idle.png            two adapters plugged in and listed in the open port menu
//   running.png         a flash under way
//   failed.png          a flash that failed: the board was "unplugged" halfway
//   console-hidden.png  the console turned off, the column centred in the wider window
// and the demo's window (tools/dev.sh demo) over a board as slow as a real one:
//   demo-idle.png       the simulated board listed and selected
//   demo-running.png    a flash under way
//   demo-burn-again.png a second Burn onto the board that already holds the image
//   demo-<fault>.png    how a flash ends on a board that commits one of the demo's faults,
//                       scrolled to the line that tells what happened
//
// usage: take-screenshots OUTPUT_DIRECTORY

#include "demo/DemoSession.h"
#include "flash/ESPToolManager.h"
#include "support/simboard/SimulatedBoard.h"
#include "ui/ContentView.h"
#include "ui/MainWindow.h"
#include "ui/ToolActionButton.h"
#include "ui/UiTestHarness.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

using namespace Qt::StringLiterals;

using tavix::ContentView;
using tavix::ESPToolManager;
using tavix::MainWindow;
using tavix::ToolActionButton;

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: take-screenshots OUTPUT_DIRECTORY\n");
        return 2;
    }
    const QDir output(QString::fromLocal8Bit(argv[1]));
    QTemporaryDir boardFolder;
    UiTestHarness harness(UiTestHarness::Flasher::bundled);
    MainWindow& window = harness.window();
    ContentView& view = harness.view();
    ESPToolManager& engine = view.espTool();
    const auto saveWindow = [&](const QWidget& shown, const QString& name) {
        QTest::qWait(200);  // let the window finish painting
        // From the screen rather than the window, so that an open menu shows as well.
        const QRect area = shown.frameGeometry();
        const QString path = output.filePath(name);
        const QPixmap picture =
            shown.screen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
        std::printf("%s %s\n", picture.save(path) ? "saved" : "cannot write", qPrintable(path));
        return QFileInfo::exists(path);
    };
    const auto save = [&](const QString& name) { return saveWindow(window, name); };

    // A board whose flash takes as long as a real one at the chosen baud rate.
    SimulatedBoard board(boardFolder.path());
    bool ok = board.start({u"--timing"_s});
    harness.plug(board.port(), u"Silicon Labs"_s, u"CP2102 USB to UART Bridge Controller"_s);
    harness.plug(u"/dev/ttyUSB0"_s, u"QinHeng Electronics"_s, u"USB Serial"_s, 0x1A86);
    window.show();
    ok &= QTest::qWaitForWindowExposed(&window);
    auto* portMenu = view.findChild<QComboBox*>(u"portMenu"_s);
    portMenu->showPopup();
    ok &= save(u"idle.png"_s);
    portMenu->hidePopup();

    auto* burn = view.findChild<ToolActionButton*>(u"burnButton"_s);
    burn->click();
    ok &= QTest::qWaitFor([&] { return engine.flashProgress() >= 0.42; }, 60000);
    ok &= save(u"running.png"_s);
    ok &= QTest::qWaitFor([&] { return !engine.isRunning(); }, 60000);
    board.stop();

    // The same adapter again, this time losing the link halfway through the flash.
    harness.unplug(board.port());
    SimulatedBoard failing(boardFolder.path());
    ok &= failing.start({u"--drop-after"_s, u"450000"_s});
    harness.plug(failing.port(), u"Silicon Labs"_s, u"CP2102 USB to UART Bridge Controller"_s);
    view.reloadPorts(true);
    burn->click();
    ok &= QTest::qWaitFor([&] { return engine.statusText() == u"Failed"_s; }, 60000);
    ok &= save(u"failed.png"_s);

    view.findChild<QCheckBox*>(u"consoleCheckBox"_s)->click();
    ok &= save(u"console-hidden.png"_s);
    window.hide();

    tavix::EsptoolEnvironment esptool = harness.home().environment();
    esptool.resourceDirectory = QString::fromUtf8(TAVIX_RESOURCE_OUTPUT_DIR);
    esptool.machine = tavix::EsptoolEnvironment::fromSystem().machine;
    // Each fault, and the line of the console to show where the rest of the flash scrolled it
    // away (none: the end, where the error is).
    const QList<std::pair<QString, QString>> faults{
        {u""_s, {}},
        {u"noisy"_s, {}},
        {u"too-noisy"_s, {}},
        {u"no-download-mode"_s, {}},
        {u"drop"_s, u"came back"_s},
        {u"restart"_s, u"restarted during the write"_s},
        {u"restart-loop"_s, {}},
        {u"slow-cable"_s, u"continuing at"_s},
        {u"encrypted"_s, {}},
    };
    for (const auto& [fault, shownLine] : faults) {
        tavix::DemoSession demo({.fault = tavix::findDemoFault(fault)},
                                {QString::fromUtf8(ESP32SIM_BINARY), esptool});
        QString error;
        ok &= demo.start(&error);
        demo.window().show();
        ok &= QTest::qWaitForWindowExposed(&demo.window());
        const ESPToolManager& demoEngine = demo.window().content().espTool();
        if (fault.isEmpty())
            ok &= saveWindow(demo.window(), u"demo-idle.png"_s);
        demo.window().content().findChild<ToolActionButton*>(u"burnButton"_s)->click();
        ok &= QTest::qWaitFor([&] { return demoEngine.isRunning(); }, 5000);
        if (fault.isEmpty()) {
            ok &= QTest::qWaitFor([&] { return demoEngine.flashProgress() >= 0.42; }, 60000);
            ok &= saveWindow(demo.window(), u"demo-running.png"_s);
        }
        ok &= QTest::qWaitFor([&] { return !demoEngine.isRunning(); }, 300000);
        if (auto* log = demo.window().findChild<QPlainTextEdit*>(); !shownLine.isEmpty()) {
            log->moveCursor(QTextCursor::Start);
            ok &= log->find(shownLine);
            // Found text is selected; the picture shows the log as a user reads it.
            QTextCursor cursor = log->textCursor();
            cursor.clearSelection();
            log->setTextCursor(cursor);
            log->centerCursor();
        }
        if (!fault.isEmpty())
            ok &= saveWindow(demo.window(), u"demo-%1.png"_s.arg(fault));
        // The board keeps its flash between two Burns: the second finds it there.
        if (fault.isEmpty()) {
            demo.window().content().findChild<ToolActionButton*>(u"burnButton"_s)->click();
            ok &= QTest::qWaitFor([&] { return demoEngine.isRunning(); }, 5000);
            ok &= QTest::qWaitFor([&] { return !demoEngine.isRunning(); }, 300000);
            ok &= saveWindow(demo.window(), u"demo-burn-again.png"_s);
        }
    }
    return ok ? 0 : 1;
}
