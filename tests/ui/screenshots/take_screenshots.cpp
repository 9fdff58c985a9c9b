// Shows the real window on the X display it is given (Xvfb in tools/screenshots.sh), with the
// build's own flasher and a simulated board (esp32-sim) behind it, puts it through the states a
// user sees, and saves a picture of each:
//   idle.png            two adapters plugged in and listed in the open port menu
//   running.png         a flash under way
//   failed.png          a flash that failed: the board was "unplugged" halfway
//   console-hidden.png  the console turned off, the column centred in the wider window
//
// usage: take-screenshots OUTPUT_DIRECTORY

#include "SimulatedBoard.h"
#include "UiTestHarness.h"
#include "flash/ESPToolManager.h"
#include "ui/ContentView.h"
#include "ui/MainWindow.h"
#include "ui/ToolActionButton.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

using namespace Qt::StringLiterals;

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
    const auto save = [&](const QString& name) {
        QTest::qWait(200);  // let the window finish painting
        // From the screen rather than the window, so that an open menu shows as well.
        const QRect area = window.frameGeometry();
        const QString path = output.filePath(name);
        const QPixmap picture =
            window.screen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
        std::printf("%s %s\n", picture.save(path) ? "saved" : "cannot write", qPrintable(path));
        return QFileInfo::exists(path);
    };

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
    return ok ? 0 : 1;
}
