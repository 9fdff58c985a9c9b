// Shows the real window on the X display it is given (Xvfb in tools/screenshots.sh), puts it
// through the states a user sees, and saves a picture of each:
//   idle.png            two boards plugged in, nothing run yet
//   running.png         a flash under way
//   failed.png          a flash that failed
//   console-hidden.png  the console turned off, the column centred in the wider window
//
// usage: take-screenshots OUTPUT_DIRECTORY

#include "UiTestHarness.h"
#include "flash/ESPToolManager.h"
#include "ui/ContentView.h"
#include "ui/MainWindow.h"
#include "ui/ToolActionButton.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QScreen>
#include <QTest>

#include <cstdio>
#include <functional>

using namespace Qt::StringLiterals;

namespace {

bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 30000)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QTest::qWait(20);
    }
    return true;
}

bool save(MainWindow& window, const QDir& directory, const QString& name)
{
    QTest::qWait(300);  // let the window finish painting
    const QPixmap picture = window.screen()->grabWindow(window.winId());
    const QString path = directory.filePath(name);
    if (!picture.save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

QStringList flasherOutput(int upToPercent)
{
    QStringList steps{u"out Serial port /dev/ttyUSB0\\nConnecting....\\n"_s, u"sleep 150"_s,
                      u"out Chip: ESP32-D0WD-V3 (revision v3.1)\\nMAC: 24:0a:c4:12:34:56\\n"_s};
    for (int percent = 0; percent <= upToPercent; percent += 6) {
        steps.append(u"sleep 60"_s);
        steps.append(u"out Writing at 0x%1... (%2 %)\\n"_s.arg(percent * 0x3C00, 8, 16, QChar(u'0'))
                         .arg(percent));
    }
    return steps;
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

    UiTestHarness harness;
    harness.plug(u"/dev/ttyUSB0"_s, u"Silicon Labs"_s, u"CP2102 USB to UART Bridge Controller"_s);
    harness.plug(u"/dev/ttyACM0"_s, u"Espressif"_s, u"USB JTAG/serial debug unit"_s, 0x303A);
    MainWindow& window = harness.window();
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    ESPToolManager& engine = harness.view().espTool();
    auto* burn = harness.view().findChild<ToolActionButton*>(u"burnButton"_s);

    bool ok = save(window, output, u"idle.png"_s);

    FakeEsptoolHome::setPlan(flasherOutput(42) + QStringList{u"sleep 4000"_s});
    burn->click();
    ok &= waitUntil([&] { return engine.statusText() == u"Flashing 42%"_s; });
    ok &= save(window, output, u"running.png"_s);
    ok &= waitUntil([&] { return !engine.isRunning(); });

    FakeEsptoolHome::setPlan(flasherOutput(18) +
                             QStringList{u"err Error: lost the link to the chip while"
                                         u" writing (the board was unplugged?).\\n"_s,
                                         u"exit 2"_s});
    burn->click();
    ok &= waitUntil([&] { return engine.statusText() == u"Failed"_s; });
    ok &= save(window, output, u"failed.png"_s);

    harness.view().findChild<QCheckBox*>(u"consoleCheckBox"_s)->click();
    ok &= save(window, output, u"console-hidden.png"_s);
    return ok ? 0 : 1;
}
