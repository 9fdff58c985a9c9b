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
#include <QDeadlineTimer>
#include <QDir>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <functional>

using namespace Qt::StringLiterals;

namespace {

bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 60000)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(10);
    }
    return true;
}

bool save(MainWindow& window, const QDir& directory, const QString& name)
{
    QTest::qWait(200);  // let the window finish painting
    // From the screen rather than the window, so that an open menu shows as well.
    const QRect area = window.frameGeometry();
    const QPixmap picture =
        window.screen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
    const QString path = directory.filePath(name);
    if (!picture.save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

bool percentAtLeast(const ESPToolManager& engine, int percent)
{
    return engine.isRunning() && engine.flashProgress() * 100 >= percent;
}

}  // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: take-screenshots OUTPUT_DIRECTORY\n");
        return 2;
    }
    const QDir output(QString::fromLocal8Bit(argv[1]));
    QTemporaryDir boardFolder;

    // A board whose flash takes as long as a real one at the chosen baud rate.
    SimulatedBoard board(boardFolder.path());
    if (!board.start({u"--timing"_s}))
        return 1;
    UiTestHarness harness(UiTestHarness::Flasher::bundled);
    harness.plug(board.port(), u"Silicon Labs"_s, u"CP2102 USB to UART Bridge Controller"_s);
    harness.plug(u"/dev/ttyUSB0"_s, u"QinHeng Electronics"_s, u"USB Serial"_s, 0x1A86);
    MainWindow& window = harness.window();
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    ESPToolManager& engine = harness.view().espTool();
    auto* burn = harness.view().findChild<ToolActionButton*>(u"burnButton"_s);

    auto* portMenu = harness.view().findChild<QComboBox*>(u"portMenu"_s);
    portMenu->showPopup();
    bool ok = save(window, output, u"idle.png"_s);
    portMenu->hidePopup();

    burn->click();
    ok &= waitUntil([&] { return percentAtLeast(engine, 42); });
    ok &= save(window, output, u"running.png"_s);
    ok &= waitUntil([&] { return !engine.isRunning(); });
    board.stop();

    // The same adapter again, this time losing the link halfway through the flash.
    harness.unplug(board.port());
    SimulatedBoard failing(boardFolder.path());
    ok &= failing.start({u"--drop-after"_s, u"450000"_s});
    harness.plug(failing.port(), u"Silicon Labs"_s, u"CP2102 USB to UART Bridge Controller"_s);
    harness.view().reloadPorts(true);
    burn->click();
    ok &= waitUntil([&] { return engine.statusText() == u"Failed"_s; });
    ok &= save(window, output, u"failed.png"_s);

    harness.view().findChild<QCheckBox*>(u"consoleCheckBox"_s)->click();
    ok &= save(window, output, u"console-hidden.png"_s);
    return ok ? 0 : 1;
}
