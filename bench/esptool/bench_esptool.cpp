// The bundled flasher against esp32-sim with its timing model on, run with the app's own
// command line:
// - a clean 4 MiB flash of an application-like image at 921600 and 1500000 baud: the wall time
//   against the limit the simulator models (wire time of every byte both ways, plus flash time);
// - 10 writes of a 1 MiB random image at 921600 on a line that flips bits at 1e-5 and at 1e-4
//   per byte: successes, wrong results (exit 0, but the flash differs from the image), failures,
//   hangs, and the time over a clean run of the same image.

#include "SimulatedBoard.h"
#include "SyntheticImage.h"
#include "flash/EsptoolCommandLine.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

constexpr qsizetype mib = qsizetype{1024} * 1024;
constexpr double ratioGoal = 1.15;
constexpr int noisyRuns = 10;
// A run that takes longer than this many clean runs (plus a minute) counts as a hang.
constexpr int hangFactor = 10;

enum class Outcome
{
    success,
    wrongResult,
    failure,
    hang,
};

struct Run
{
    Outcome outcome = Outcome::failure;
    double wallSeconds = 0;
    double limitSeconds = 0;  // modelled wire and flash time
    QString lastLine;
};

Run flashOnce(const QString& folder, const QString& imagePath, const QByteArray& image,
              const QString& baud, const QStringList& simulatorOptions, int timeoutMs)
{
    Run run;
    SimulatedBoard board(folder);
    if (!board.start(QStringList{u"--timing"_s} + simulatorOptions)) {
        run.lastLine = u"esp32-sim did not start"_s;
        return run;
    }
    QProcess flasher;
    flasher.setProcessChannelMode(QProcess::MergedChannels);
    QElapsedTimer timer;
    timer.start();
    flasher.start(QStringLiteral(ESPTOOL_BINARY),
                  EsptoolCommandLine::flashArguments(board.port(), baud, imagePath));
    const bool finished = flasher.waitForFinished(timeoutMs);
    run.wallSeconds = double(timer.nsecsElapsed()) / 1e9;
    if (!finished) {
        flasher.kill();
        flasher.waitForFinished();
    }
    const QByteArray flash = board.stop();
    const QList<QByteArray> lines = flasher.readAll().trimmed().split('\n');
    run.lastLine = QString::fromUtf8(lines.last());
    const QJsonObject stats = board.stats();
    run.limitSeconds = stats.value(u"wireSecondsReceived"_s).toDouble() +
                       stats.value(u"wireSecondsSent"_s).toDouble() +
                       stats.value(u"flashSeconds"_s).toDouble();
    if (!finished)
        run.outcome = Outcome::hang;
    else if (flasher.exitStatus() != QProcess::NormalExit || flasher.exitCode() != 0)
        run.outcome = Outcome::failure;
    else
        run.outcome = flash.left(image.size()) == image ? Outcome::success : Outcome::wrongResult;
    return run;
}

bool writeImage(const QString& path, const QByteArray& image)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(image) == image.size();
}

bool cleanRatios(const QString& folder)
{
    const QByteArray image = SyntheticImage::application(4 * mib, 2024);
    const QString imagePath = folder + u"/app.bin"_s;
    if (!writeImage(imagePath, image))
        return false;
    std::printf("Clean runs, 4 MiB application-like image:\n%-9s %9s %9s %7s\n", "baud", "wall s",
                "limit s", "ratio");
    bool withinGoal = true;
    for (const QString& baud : {u"921600"_s, u"1500000"_s}) {
        const Run run = flashOnce(folder, imagePath, image, baud, {}, 600'000);
        if (run.outcome != Outcome::success || run.limitSeconds <= 0) {
            std::printf("%-9s failed: %s\n", qPrintable(baud), qPrintable(run.lastLine));
            return false;
        }
        const double ratio = run.wallSeconds / run.limitSeconds;
        withinGoal = withinGoal && ratio <= ratioGoal;
        std::printf("%-9s %9.2f %9.2f %7.3f\n", qPrintable(baud), run.wallSeconds, run.limitSeconds,
                    ratio);
        std::fflush(stdout);
    }
    std::printf("Goal: wall time at most %.2f x the modelled limit: %s\n\n", ratioGoal,
                withinGoal ? "met" : "NOT met");
    return true;
}

bool noisyLines(const QString& folder)
{
    QByteArray image(mib, Qt::Uninitialized);
    QRandomGenerator random(7);
    for (char& byte : image)
        byte = static_cast<char>(random.bounded(256));
    const QString imagePath = folder + u"/random.bin"_s;
    if (!writeImage(imagePath, image))
        return false;
    const QString baud = u"921600"_s;
    const Run clean = flashOnce(folder, imagePath, image, baud, {}, 600'000);
    if (clean.outcome != Outcome::success) {
        std::printf("Clean run of the random image failed: %s\n", qPrintable(clean.lastLine));
        return false;
    }
    std::printf("Noisy line, 1 MiB random image at %s baud; a clean run takes %.2f s:\n",
                qPrintable(baud), clean.wallSeconds);
    std::printf("%-8s %9s %6s %7s %5s %13s %13s\n", "flips", "successes", "wrong", "failed",
                "hangs", "mean extra s", "worst extra s");
    const int hangMs = static_cast<int>((hangFactor * clean.wallSeconds + 60) * 1000);
    bool goalsMet = true;
    for (const auto& [rate, goal] : {std::pair{u"1e-5"_s, 9}, std::pair{u"1e-4"_s, 7}}) {
        int counts[4] = {};
        double extraSum = 0;
        double extraWorst = 0;
        for (int seed = 1; seed <= noisyRuns; ++seed) {
            const Run run =
                flashOnce(folder, imagePath, image, baud,
                          {u"--flip-rate"_s, rate, u"--seed"_s, QString::number(seed)}, hangMs);
            ++counts[static_cast<int>(run.outcome)];
            if (run.outcome == Outcome::success) {
                extraSum += run.wallSeconds - clean.wallSeconds;
                extraWorst = std::max(extraWorst, run.wallSeconds - clean.wallSeconds);
            } else {
                std::printf("  seed %d: %s\n", seed, qPrintable(run.lastLine));
            }
        }
        const int successes = counts[static_cast<int>(Outcome::success)];
        goalsMet = goalsMet && successes >= goal && counts[int(Outcome::wrongResult)] == 0 &&
                   counts[int(Outcome::hang)] == 0;
        std::printf("%-8s %6d/%-2d %6d %7d %5d %13.2f %13.2f\n", qPrintable(rate), successes,
                    noisyRuns, counts[int(Outcome::wrongResult)], counts[int(Outcome::failure)],
                    counts[int(Outcome::hang)], successes > 0 ? extraSum / successes : 0.0,
                    extraWorst);
        std::fflush(stdout);
    }
    std::printf("Goals: at least 9/10 at 1e-5 and 7/10 at 1e-4, no wrong result, no hang: %s\n",
                goalsMet ? "met" : "NOT met");
    return true;
}

}  // namespace

int main(int argc, char* argv[])
{
    const QCoreApplication application(argc, argv);
    QTemporaryDir folder;
    if (!folder.isValid())
        return 1;
    const bool noiseOnly = application.arguments().contains(u"--noise-only"_s);
    if (!noiseOnly && !cleanRatios(folder.path()))
        return 1;
    return noisyLines(folder.path()) ? 0 : 1;
}
