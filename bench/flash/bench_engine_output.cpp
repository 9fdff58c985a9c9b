// Pushes esptool-like output (progress lines ending in carriage returns, written 4 KiB at a
// time) from a child through the engine into its log, first 50 MB and then 100 MB, and prints
// the throughput, the number of chunks the engine handled, the peak memory and the ratio of the
// two times: about 2 means the cost per byte does not grow with the log.

#include "flash/ESPToolManager.h"
#include "support/fakeesptool/FakeEsptoolHome.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>

#include <cstdio>
#include <sys/resource.h>

using namespace Qt::StringLiterals;

using tavix::ESPToolManager;
using tavix::FlashResult;

namespace {

constexpr qsizetype writeSize = 4096;

QString progressBlock()
{
    QString block;
    for (int line = 0; block.size() < writeSize; ++line)
        block +=
            u"Writing at 0x%1... (%2 %)\\r"_s.arg(line * 0x400, 8, 16, QChar(u'0')).arg(line % 101);
    // Escapes count double in the plan, the child writes exactly writeSize bytes.
    while (block.size() - block.count(u"\\r"_s) > writeSize)
        block.chop(1);
    while (block.size() - block.count(u"\\r"_s) < writeSize)
        block += u' ';
    return block;
}

long peakResidentKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

struct Figures
{
    double seconds = 0;
    qint64 logChanges = 0;
    qsizetype logCharacters = 0;
};

Figures run(const FakeEsptoolHome& home, qint64 megabytes)
{
    const qint64 writes = megabytes * 1000 * 1000 / writeSize;
    FakeEsptoolHome::setPlan({u"repeat %1 %2"_s.arg(writes).arg(progressBlock())});

    ESPToolManager engine(home.environment());
    Figures figures;
    QObject::connect(&engine, &ESPToolManager::esptoolLogChanged, &engine,
                     [&figures] { ++figures.logChanges; });
    QEventLoop loop;
    QElapsedTimer timer;
    timer.start();
    engine.flashFirmware(u"/dev/null"_s, u"1500000"_s, [&](const FlashResult& result) {
        figures.seconds = double(timer.nsecsElapsed()) / 1e9;
        if (!result.isSuccess())
            std::fprintf(stderr, "run failed: %s\n", qPrintable(result.message()));
        loop.quit();
    });
    loop.exec();
    figures.logCharacters = engine.esptoolLog().size();
    // Reset, announcement, command line and closing line are not output chunks.
    figures.logChanges -= 4;
    return figures;
}

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    FakeEsptoolHome home;
    home.addEsptool(u"esptool_amd64"_s);
    home.addFirmware();

    std::printf("%-8s %10s %10s %10s %14s %14s\n", "output", "seconds", "MB/s", "chunks",
                "log chars", "peak RSS MiB");
    double seconds50 = 0;
    for (const qint64 megabytes : {50, 100}) {
        const Figures figures = run(home, megabytes);
        std::printf("%5lld MB %10.2f %10.1f %10lld %14lld %14.1f\n",
                    static_cast<long long>(megabytes), figures.seconds,
                    double(megabytes) / figures.seconds, static_cast<long long>(figures.logChanges),
                    static_cast<long long>(figures.logCharacters),
                    double(peakResidentKiB()) / 1024.0);
        if (megabytes == 50)
            seconds50 = figures.seconds;
        else
            std::printf("time ratio 100 MB / 50 MB: %.2f (goal: at most 2.1)\n",
                        figures.seconds / seconds50);
    }
    return 0;
}
