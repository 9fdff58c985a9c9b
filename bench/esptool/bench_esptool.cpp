// Flashes a 4 MiB application-like image through the simulated ROM loader with its timing
// model on, at 921600 and 1500000 baud, and prints the wall time against the limit the
// simulator models: the wire time of every byte in both directions plus the flash time.

#include "SimulatedBoard.h"
#include "SyntheticImage.h"
#include "flash/EsptoolCommandLine.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>
#include <zlib.h>

using namespace Qt::StringLiterals;

namespace {

constexpr qsizetype imageSize = qsizetype{4} * 1024 * 1024;
constexpr int runTimeoutMs = 600'000;
constexpr double goal = 1.15;

double compressedRatio(const QByteArray& data)
{
    uLongf size = compressBound(uLong(data.size()));
    QByteArray out(qsizetype(size), Qt::Uninitialized);
    compress2(reinterpret_cast<Bytef*>(out.data()), &size,
              reinterpret_cast<const Bytef*>(data.constData()), uLong(data.size()), 9);
    return double(size) / double(data.size());
}

struct Measurement
{
    bool ok = false;
    QString failure;
    double wallSeconds = 0;
    double limitSeconds = 0;
    double wireIn = 0;
    double wireOut = 0;
    double flash = 0;
};

Measurement flashOnce(const QString& folder, const QString& imagePath, const QByteArray& image,
                      const QString& baud)
{
    Measurement result;
    SimulatedBoard board(folder);
    if (!board.start({u"--timing"_s, u"--flash-size"_s, u"4MB"_s})) {
        result.failure = u"esp32-sim did not start"_s;
        return result;
    }

    QProcess flasher;
    flasher.setProcessChannelMode(QProcess::MergedChannels);
    QElapsedTimer timer;
    timer.start();
    flasher.start(QStringLiteral(ESPTOOL_BINARY),
                  EsptoolCommandLine::flashArguments(board.port(), baud, imagePath));
    const bool finished = flasher.waitForFinished(runTimeoutMs);
    result.wallSeconds = double(timer.nsecsElapsed()) / 1e9;
    const QByteArray flash = board.stop();
    if (!finished || flasher.exitStatus() != QProcess::NormalExit || flasher.exitCode() != 0) {
        result.failure = u"flasher failed:\n"_s + QString::fromUtf8(flasher.readAll());
        return result;
    }

    if (flash.left(image.size()) != image) {
        result.failure = u"the flash does not hold the image"_s;
        return result;
    }
    const QJsonObject stats = board.stats();
    result.wireIn = stats.value(u"wireSecondsReceived"_s).toDouble();
    result.wireOut = stats.value(u"wireSecondsSent"_s).toDouble();
    result.flash = stats.value(u"flashSeconds"_s).toDouble();
    result.limitSeconds = result.wireIn + result.wireOut + result.flash;
    result.ok = result.limitSeconds > 0;
    if (!result.ok)
        result.failure = u"esp32-sim modelled no time"_s;
    return result;
}

}  // namespace

int main(int argc, char* argv[])
{
    const QCoreApplication application(argc, argv);
    QTemporaryDir folder;
    if (!folder.isValid())
        return 1;
    const QByteArray image = SyntheticImage::application(imageSize, 2024);
    const QString imagePath = folder.filePath(u"image.bin"_s);
    QFile file(imagePath);
    if (!file.open(QIODevice::WriteOnly) || file.write(image) != image.size())
        return 1;
    file.close();

    std::printf("Image: %lld bytes, zlib-9 ratio %.3f\n", static_cast<long long>(image.size()),
                compressedRatio(image));
    std::fflush(stdout);
    std::printf("%-9s %9s %9s %9s %9s %9s %7s\n", "baud", "wall s", "limit s", "wire in",
                "wire out", "flash s", "ratio");
    bool allWithinGoal = true;
    for (const QString& baud : {u"921600"_s, u"1500000"_s}) {
        const Measurement m = flashOnce(folder.path(), imagePath, image, baud);
        if (!m.ok) {
            std::printf("%-9s failed: %s\n", qPrintable(baud), qPrintable(m.failure));
            return 1;
        }
        const double ratio = m.wallSeconds / m.limitSeconds;
        allWithinGoal = allWithinGoal && ratio <= goal;
        std::printf("%-9s %9.2f %9.2f %9.2f %9.2f %9.2f %7.3f\n", qPrintable(baud), m.wallSeconds,
                    m.limitSeconds, m.wireIn, m.wireOut, m.flash, ratio);
        std::fflush(stdout);
    }
    std::printf("Goal: wall time at most %.2f x the modelled limit: %s\n", goal,
                allWithinGoal ? "met" : "NOT met");
    return 0;
}
