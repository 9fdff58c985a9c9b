#include "esp32sim/host/CommandLine.h"
#include "esp32sim/host/Esp32Simulator.h"
#include "esp32sim/host/ExitFiles.h"
#include "esp32sim/host/TerminationSignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {

constexpr int exitOk = 0;
constexpr int exitFailure = 1;
constexpr int exitUsage = 2;

void printLine(std::FILE* stream, const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

// A parent that starts the simulator with a pipe on its standard input holds the other end, and
// the kernel closes it when the parent ends in any way, SIGKILL and crashes included.
std::unique_ptr<QSocketNotifier> quitWhenStdinCloses()
{
    auto notifier = std::make_unique<QSocketNotifier>(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, [watch = notifier.get()] {
        char ignored[256];
        const ssize_t n = ::read(STDIN_FILENO, ignored, sizeof ignored);
        if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) {
            watch->setEnabled(false);
            QCoreApplication::quit();
        }
    });
    return notifier;
}

}  // namespace

int main(int argc, char* argv[])
{
    // Before QCoreApplication starts any thread: the signals are then only read from the fd.
    esp32sim::TerminationSignals::blockInThisThread();
    QCoreApplication app(argc, argv);

    const esp32sim::ParsedCommandLine parsed =
        esp32sim::parseCommandLine(QCoreApplication::arguments());
    if (parsed.helpRequested) {
        std::fputs(esp32sim::commandLineHelp().toLocal8Bit().constData(), stdout);
        return exitOk;
    }
    if (!parsed.options) {
        printLine(stderr, QLatin1StringView("esp32-sim: ") + parsed.error);
        return exitUsage;
    }
    const esp32sim::CommandLineOptions& options = *parsed.options;

    esp32sim::TerminationSignals signals;
    if (!signals.isValid()) {
        printLine(stderr, QLatin1StringView("esp32-sim: cannot watch for SIGTERM/SIGINT"));
        return exitFailure;
    }
    QObject::connect(&signals, &esp32sim::TerminationSignals::received, &app,
                     &QCoreApplication::quit);
    const std::unique_ptr<QSocketNotifier> stdinWatch =
        options.exitWithStdin ? quitWhenStdinCloses() : nullptr;

    esp32sim::Esp32Simulator simulator(options.simulator);
    QString error;
    if (!simulator.open(&error)) {
        printLine(stderr, QLatin1StringView("esp32-sim: cannot open a pseudo-terminal: ") + error);
        return exitFailure;
    }
    // Without the client's rate the check would let every frame through without a word.
    if (options.simulator.checkLineBaud && !simulator.canReadLineBaud()) {
        printLine(stderr, QLatin1StringView("esp32-sim: the rate a client sets on the pty cannot "
                                            "be read here; frames are not checked against it"));
    }
    printLine(stdout, simulator.portPath());

    QCoreApplication::exec();

    int status = exitOk;
    if (!options.dumpPath.isEmpty() &&
        !esp32sim::writeFlashDump(simulator.flash(), options.dumpPath, &error)) {
        printLine(stderr, QLatin1StringView("esp32-sim: ") + error);
        status = exitFailure;
    }
    if (!options.statsPath.isEmpty() &&
        !esp32sim::writeStatistics(simulator.statistics(), options.statsPath, &error)) {
        printLine(stderr, QLatin1StringView("esp32-sim: ") + error);
        status = exitFailure;
    }
    return status;
}
