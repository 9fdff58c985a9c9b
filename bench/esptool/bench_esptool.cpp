// Flashes a 4 MiB application-like image through the simulated ROM loader with its timing
// model on, at 921600 and 1500000 baud, and prints the wall time against the limit the
// simulator models: the wire time of every byte in both directions plus the flash time.

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

// Machine code: instructions from a vocabulary in which a few are very common (loads, stores,
// calls), with an immediate operand now and then. Next to it an application carries string
// tables, pointer tables, compressed assets and erased padding. The mix lands near zlib's
// ratio on real ESP32 applications (about 0.6).
QByteArray applicationImage()
{
    QRandomGenerator random(2024);
    QList<QByteArray> instructions;
    for (int i = 0; i < 1024; ++i) {
        QByteArray instruction(3, Qt::Uninitialized);
        for (char& byte : instruction)
            byte = static_cast<char>(random.bounded(256));
        instructions << instruction;
    }
    static const QList<QByteArray> words{"wifi"_ba,  "event"_ba, "task"_ba,   "mqtt"_ba,
                                         "error"_ba, "init"_ba,  "config"_ba, "%d"_ba,
                                         "\n"_ba,    "lvgl"_ba,  "http"_ba,   "json"_ba};
    QByteArray data;
    data.reserve(imageSize + 4096);
    while (data.size() < imageSize) {
        const quint32 kind = random.bounded(100);
        if (kind < 70) {
            for (int i = 0; i < 1024; ++i) {
                const double skew = std::pow(random.generateDouble(), 5);
                data.append(instructions[qsizetype(skew * double(instructions.size()))]);
                if (random.bounded(100) < 15)
                    data.append(static_cast<char>(random.bounded(256)));
            }
        } else if (kind < 78) {
            for (int i = 0; i < 200; ++i)
                data.append(words[random.bounded(words.size())]).append(' ');
        } else if (kind < 88) {
            for (int i = 0; i < 1024; ++i)
                data.append(static_cast<char>(random.bounded(256)));
        } else if (kind < 95) {
            for (int i = 0; i < 128; ++i) {
                const quint32 pointer = 0x3F400000 + random.bounded(0x10000) * 4;
                data.append(reinterpret_cast<const char*>(&pointer), 4);
            }
        } else {
            data.append(QByteArray(2048, '\xFF'));
        }
    }
    data.truncate(imageSize);
    return data;
}

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
    const QString dumpPath = folder + u"/flash-"_s + baud + u".bin"_s;
    const QString statsPath = folder + u"/stats-"_s + baud + u".json"_s;
    QProcess simulator;
    simulator.start(QStringLiteral(ESP32SIM_BINARY),
                    {u"--timing"_s, u"--flash-size"_s, u"4MB"_s, u"--dump"_s, dumpPath,
                     u"--stats"_s, statsPath});
    if (!simulator.waitForStarted() || !simulator.waitForReadyRead(10'000)) {
        result.failure = u"esp32-sim did not start"_s;
        return result;
    }
    const QString port = QString::fromUtf8(simulator.readLine()).trimmed();

    QProcess flasher;
    flasher.setProcessChannelMode(QProcess::MergedChannels);
    QElapsedTimer timer;
    timer.start();
    flasher.start(QStringLiteral(ESPTOOL_BINARY), {u"--chip"_s,       u"esp32"_s,
                                                   u"--port"_s,       port,
                                                   u"--baud"_s,       baud,
                                                   u"--before"_s,     u"default-reset"_s,
                                                   u"--after"_s,      u"hard-reset"_s,
                                                   u"write-flash"_s,  u"--compress"_s,
                                                   u"--flash-mode"_s, u"dio"_s,
                                                   u"--flash-freq"_s, u"80m"_s,
                                                   u"--flash-size"_s, u"detect"_s,
                                                   u"0x0"_s,          imagePath});
    const bool finished = flasher.waitForFinished(runTimeoutMs);
    result.wallSeconds = double(timer.nsecsElapsed()) / 1e9;
    simulator.terminate();
    simulator.waitForFinished(30'000);
    if (!finished || flasher.exitStatus() != QProcess::NormalExit || flasher.exitCode() != 0) {
        result.failure = u"flasher failed:\n"_s + QString::fromUtf8(flasher.readAll());
        return result;
    }

    QFile dump(dumpPath);
    if (!dump.open(QIODevice::ReadOnly) || dump.read(image.size()) != image) {
        result.failure = u"the flash does not hold the image"_s;
        return result;
    }
    QFile statsFile(statsPath);
    if (!statsFile.open(QIODevice::ReadOnly)) {
        result.failure = u"no statistics from esp32-sim"_s;
        return result;
    }
    const QJsonObject stats = QJsonDocument::fromJson(statsFile.readAll()).object();
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
    const QByteArray image = applicationImage();
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
