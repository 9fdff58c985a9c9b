// Feeds 20,000 chunks (10 MB in all) from a child through the engine into the shown window and
// prints what a user would feel: the window's cost per chunk for the first and the last 1,000
// chunks (equal costs mean no relayout of the whole log per chunk), the longest stall of the
// event loop (painting included), and the total time against the engine alone on the same output.

#include "flash/ESPToolManager.h"
#include "serial/SerialPortManager.h"
#include "support/FakePortLister.h"
#include "support/fakeesptool/FakeEsptoolHome.h"
#include "ui/ContentView.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>

using namespace Qt::StringLiterals;

using tavix::ContentView;
using tavix::ESPToolManager;
using tavix::FlashResult;
using tavix::MainWindow;
using tavix::SerialPortManager;

namespace {

constexpr int chunkCount = 20000;
constexpr int chunkBytes = 500;  // 20,000 × 500 bytes = 10 MB
constexpr int pauseMicroseconds = 1000;
constexpr int windowSize = 1000;

QString chunkText()
{
    QString text = u"Writing at 0x00010000... (12 %)\\n"_s;
    const int escapes = 1;
    while (text.size() - escapes < chunkBytes - 1)
        text.insert(0, u'.');
    return text + u"\\r"_s;
}

struct Run
{
    double seconds = 0;
    QList<qint64> chunkNanoseconds;  // the window's handling of each log change
    qint64 longestStallNanoseconds = 0;
};

Run runFlash(ESPToolManager& engine)
{
    Run run;
    QEventLoop loop;
    QElapsedTimer total;
    total.start();
    engine.flashFirmware(u"/dev/null"_s, u"1500000"_s, [&](const FlashResult&) {
        run.seconds = double(total.nsecsElapsed()) / 1e9;
        loop.quit();
    });
    loop.exec();
    return run;
}

}  // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    FakeEsptoolHome home;
    home.addEsptool(u"esptool_amd64"_s);
    home.addFirmware();
    FakeEsptoolHome::setPlan(
        {u"paced %1 %2 %3"_s.arg(chunkCount).arg(pauseMicroseconds).arg(chunkText())});

    // Baseline: the engine alone.
    ESPToolManager bare(home.environment());
    const Run baseline = runFlash(bare);

    // The same output into the shown window. The probes around the window's own slot are
    // connected before and after it, and slots run in the order they were connected.
    QTemporaryDir devDirectory;
    auto* engine = new ESPToolManager(home.environment());
    QElapsedTimer chunkTimer;
    QObject::connect(engine, &ESPToolManager::esptoolLogChanged, engine,
                     [&] { chunkTimer.start(); });
    MainWindow window(new ContentView(
        new SerialPortManager(std::make_unique<FakePortLister>(), devDirectory.path()), engine));
    Run shown;
    QObject::connect(engine, &ESPToolManager::esptoolLogChanged, engine,
                     [&] { shown.chunkNanoseconds.append(chunkTimer.nsecsElapsed()); });
    window.show();

    QElapsedTimer sinceTick;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(4);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        if (sinceTick.isValid())
            shown.longestStallNanoseconds =
                std::max(shown.longestStallNanoseconds, sinceTick.nsecsElapsed() - 4'000'000);
        sinceTick.start();
    });
    ticker.start();
    const Run timed = runFlash(*engine);
    shown.seconds = timed.seconds;
    ticker.stop();

    // Drop the changes that are not output: the reset, announcement, command line, closing line.
    QList<qint64> chunks = shown.chunkNanoseconds.mid(3, shown.chunkNanoseconds.size() - 4);
    const auto averageMicroseconds = [](const QList<qint64>& part) {
        qint64 sum = 0;
        for (qint64 value : part)
            sum += value;
        return part.isEmpty() ? 0.0 : double(sum) / 1000.0 / double(part.size());
    };
    const double first = averageMicroseconds(chunks.mid(0, windowSize));
    const double last = averageMicroseconds(chunks.mid(chunks.size() - windowSize));

    std::printf("chunks handled by the window: %lld (written: %d, %d bytes each)\n",
                static_cast<long long>(chunks.size()), chunkCount, chunkBytes);
    std::printf("log size: %lld characters\n", static_cast<long long>(engine->esptoolLog().size()));
    std::printf("window cost per chunk, first %d: %.1f us\n", windowSize, first);
    std::printf("window cost per chunk, last %d:  %.1f us\n", windowSize, last);
    std::printf("ratio last / first: %.2f (goal: at most 1.5)\n", last / first);
    std::printf("longest event-loop stall: %.1f ms (goal: at most 16 ms)\n",
                double(shown.longestStallNanoseconds) / 1e6);
    std::printf("total with the window: %.2f s, engine alone: %.2f s, ratio %.2f\n", shown.seconds,
                baseline.seconds, shown.seconds / baseline.seconds);
    return 0;
}
