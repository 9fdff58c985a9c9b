// The flasher executable against the simulated ESP32, both as child processes, the way the app
// runs the flasher: merged output, judged by the exit status, with the app's own command lines.
// Every fault the simulator models has a row: a run must either end with the flash holding the
// image, or fail with one error line that names the cause.

#include "SimulatedBoard.h"
#include "SyntheticImage.h"
#include "flash/EsptoolCommandLine.h"

#include <QFile>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int runTimeoutMs = 120'000;
constexpr qsizetype mib = qsizetype{1024} * 1024;

struct FlasherRun
{
    int exitCode = -1;  // -1: did not finish
    QString output;
    QStringList lines;
};

FlasherRun runFlasher(const QStringList& arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral(ESPTOOL_BINARY), arguments);
    FlasherRun run;
    const bool finished = process.waitForStarted() && process.waitForFinished(runTimeoutMs);
    if (!finished) {
        process.kill();
        process.waitForFinished();
    } else if (process.exitStatus() == QProcess::NormalExit) {
        run.exitCode = process.exitCode();
    }
    run.output = QString::fromUtf8(process.readAll());
    run.lines = run.output.split(u'\n', Qt::SkipEmptyParts);
    return run;
}

bool writeFile(const QString& path, const QByteArray& data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

// The percentages the app reads: from 0 up to 100, each higher than the one before.
bool progressRisesFromZeroToHundred(const QStringList& lines)
{
    static const QRegularExpression progress(
        u"^Writing at 0x[0-9a-f]{8}\\.\\.\\. \\((\\d+) %\\)$"_s);
    QList<int> percents;
    for (const QString& line : lines) {
        if (const QRegularExpressionMatch match = progress.match(line); match.hasMatch())
            percents << match.captured(1).toInt();
    }
    if (percents.isEmpty() || percents.first() != 0 || percents.last() != 100)
        return false;
    return std::adjacent_find(percents.cbegin(), percents.cend(), std::greater_equal<>()) ==
           percents.cend();
}

// The run ended with one error line that says `reason`, and nothing claimed success.
bool failedWith(const FlasherRun& run, const QString& reason)
{
    return run.exitCode == 1 && !run.lines.isEmpty() && run.lines.last().startsWith(u"Error: "_s) &&
           run.lines.last().contains(reason) && run.output.count(u"Error: "_s) == 1 &&
           !run.output.contains(u"Done"_s);
}

}  // namespace

class TestFlasherSim : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void writes_data();
    void writes();
    void erases_data();
    void erases();
    void underscoresTwoFilesUncompressed();
    void bootloaderHeaderIsPatchedOnlyAt0x1000();
    void badArgumentsExitWithUsage_data();
    void badArgumentsExitWithUsage();
    void refusedBeforeAnythingIsErased();
    void heldPortIsBusy();

private:
    QStringList withLink(QStringList simulator) const
    {
        return simulator.replaceInStrings(u"LINK"_s, m_folder->filePath(u"ttyUSB-sim"_s));
    }

    std::unique_ptr<QTemporaryDir> m_folder;
};

void TestFlasherSim::init()
{
    m_folder = std::make_unique<QTemporaryDir>();
    QVERIFY(m_folder->isValid());
}

void TestFlasherSim::writes_data()
{
    QTest::addColumn<QStringList>("simulator");
    QTest::addColumn<QString>("baud");
    QTest::addColumn<qsizetype>("size");
    QTest::addColumn<QString>("says");  // in the output of a success, or its error line
    QTest::addColumn<bool>("succeeds");
    QTest::addColumn<QString>("statsKey");  // a figure the fault must have left above zero
    const QStringList drop{u"--link"_s, u"LINK"_s, u"--drop-after"_s, u"150000"_s};
    const QStringList comesBack = drop + QStringList{u"--return-after"_s, u"1000"_s};

    QTest::newRow("921600, 300 KB")
        << QStringList{u"--fill"_s, u"0x5A"_s} << u"921600"_s << qsizetype(300 * 1024 + 3)
        << u"Verified"_s << true << QString();
    // Only frames sent at the chip's own rate are heard: a flasher that forgot to switch its
    // side of the line would fail.
    QTest::newRow("1500000, 1 MB, rate checked") << QStringList{u"--check-baud"_s} << u"1500000"_s
                                                 << mib << u"Verified"_s << true << QString();
    QTest::newRow("115200, 20 KB") << QStringList() << u"115200"_s << qsizetype(20 * 1024)
                                   << u"Verified"_s << true << QString();
    QTest::newRow("noisy line recovers")
        << QStringList{u"--flip-rate"_s, u"1e-4"_s, u"--seed"_s, u"3"_s} << u"921600"_s << mib
        << u"Recovered from line noise"_s << true << u"bitsFlipped"_s;
    QTest::newRow("noisy line, chip applies repeated blocks")
        << QStringList{u"--flip-rate"_s, u"3e-4"_s, u"--seed"_s, u"9"_s, u"--apply-repeats"_s}
        << u"921600"_s << qsizetype(300 * 1024) << u"Recovered from line noise"_s << true
        << u"bitsFlipped"_s;
    QTest::newRow("reply garbled in the write, chip applies repeated blocks")
        << QStringList{u"--corrupt-reply"_s, u"60"_s, u"--apply-repeats"_s} << u"921600"_s
        << qsizetype(300 * 1024) << u"Verified"_s << true << QString();
    QTest::newRow("reply garbled while the chip is identified")
        << QStringList{u"--corrupt-reply"_s, u"9"_s} << u"921600"_s << qsizetype(20 * 1024)
        << u"Verified"_s << true << QString();
    QTest::newRow("a write error once")
        << QStringList{u"--write-error-block"_s, u"7"_s, u"--write-error-times"_s, u"1"_s}
        << u"921600"_s << qsizetype(200 * 1024) << u"again (try 2 of 6)"_s << true << QString();
    QTest::newRow("a write error every time")
        << QStringList{u"--write-error-block"_s, u"7"_s} << u"921600"_s << qsizetype(200 * 1024)
        << u"flash write error"_s << false << QString();
    QTest::newRow("line too noisy")
        << QStringList{u"--flip-rate"_s, u"3e-3"_s} << u"1500000"_s << qsizetype(300 * 1024)
        << u"too noisy at 1500000 baud"_s << false << u"bitsFlipped"_s;
    QTest::newRow("baud change: chip switched, its reply lost")
        << QStringList{u"--lose-baud-change"_s, u"switched"_s} << u"921600"_s
        << qsizetype(20 * 1024) << u"it answers at 921600 baud"_s << true << QString();
    QTest::newRow("baud change: request lost, chip stayed")
        << QStringList{u"--lose-baud-change"_s, u"ignored"_s} << u"921600"_s << qsizetype(20 * 1024)
        << u"Verified"_s << true << u"baudMismatches"_s;
    QTest::newRow("link drops and comes back") << comesBack << u"921600"_s << qsizetype(300 * 1024)
                                               << u"came back after"_s << true << QString();
    QTest::newRow("link comes back held by another program for a while")
        << comesBack + QStringList{u"--busy-after-return"_s, u"1500"_s} << u"921600"_s
        << qsizetype(300 * 1024) << u"came back after"_s << true << QString();
    QTest::newRow("another board comes back")
        << comesBack + QStringList{u"--other-board-returns"_s} << u"921600"_s
        << qsizetype(300 * 1024) << u"Another board answered"_s << false << QString();
    QTest::newRow("link never comes back") << drop << u"921600"_s << qsizetype(300 * 1024)
                                           << u"connection to the board"_s << false << QString();
    QTest::newRow("link drops while syncing")
        << QStringList{u"--drop-after"_s, u"30"_s} << u"921600"_s << qsizetype(20 * 1024)
        << u"connection to the board"_s << false << QString();
    QTest::newRow("board runs its firmware")
        << QStringList{u"--boot-from-flash"_s} << u"921600"_s << qsizetype(20 * 1024)
        << u"started its own firmware instead of the serial loader"_s << false << QString();
    QTest::newRow("silent port") << QStringList{u"--no-sync"_s} << u"921600"_s
                                 << qsizetype(20 * 1024) << u"no data came from the port"_s << false
                                 << QString();
    QTest::newRow("another chip") << QStringList{u"--chip-magic"_s, u"0x9"_s} << u"921600"_s
                                  << qsizetype(20 * 1024) << u"not an ESP32"_s << false
                                  << QString();
}

void TestFlasherSim::writes()
{
    QFETCH(QStringList, simulator);
    QFETCH(QString, baud);
    QFETCH(qsizetype, size);
    QFETCH(QString, says);
    QFETCH(bool, succeeds);
    QFETCH(QString, statsKey);
    const QByteArray image = SyntheticImage::application(size, 1);
    const QString imagePath = m_folder->filePath(u"app image.bin"_s);
    QVERIFY(writeFile(imagePath, image));
    SimulatedBoard board(m_folder->path());
    QVERIFY(board.start(withLink(simulator)));
    const FlasherRun run =
        runFlasher(EsptoolCommandLine::flashArguments(board.port(), baud, imagePath));
    const QByteArray flash = board.stop();
    if (!statsKey.isEmpty())
        QVERIFY(board.stats().value(statsKey).toInt() > 0);
    if (!succeeds) {
        QVERIFY2(failedWith(run, says), qPrintable(run.output));
        QVERIFY(!run.output.contains(u"Verified"_s));
        return;
    }
    QVERIFY2(run.exitCode == 0 && run.output.contains(says), qPrintable(run.output));
    QVERIFY(flash.left(image.size()) == image);
    QVERIFY2(progressRisesFromZeroToHundred(run.lines), qPrintable(run.output));
    // A pseudo-terminal has no modem lines: one warning, and the run goes on.
    QCOMPARE(run.output.count(u"modem-control lines (DTR/RTS)"_s), 1);
    QVERIFY(run.output.contains(u"ESP32-D0WD-V3 (revision v3.1)"_s));
    QVERIFY(run.output.contains(u"MAC: 24:0a:c4:12:34:56"_s));
    if (simulator.contains(u"--fill"_s)) {
        // Padding to whole words, then what the erase of the last sector left; the flash
        // beyond that sector is untouched.
        const qsizetype sectorEnd = (image.size() + 0xFFF) / 0x1000 * 0x1000;
        QVERIFY(flash.mid(image.size(), sectorEnd - image.size()) ==
                QByteArray(sectorEnd - image.size(), '\xFF'));
        QVERIFY(flash.mid(sectorEnd) == QByteArray(flash.size() - sectorEnd, '\x5A'));
        QVERIFY(run.output.contains(u"Wrote %1 bytes"_s.arg((size + 3) / 4 * 4)));
    }
}

void TestFlasherSim::erases_data()
{
    QTest::addColumn<QStringList>("simulator");
    QTest::addColumn<QString>("size");
    QTest::addColumn<QString>("says");
    QTest::newRow("4MB") << QStringList() << u"4MB"_s << u"Erased 4MB in"_s;
    QTest::newRow("16MB") << QStringList{u"--flash-size"_s, u"16MB"_s} << u"16MB"_s
                          << u"Erased 16MB in"_s;
    QTest::newRow("noisy line") << QStringList{u"--flip-rate"_s, u"1e-4"_s} << u"4MB"_s
                                << u"Erased 4MB in"_s;
    QTest::newRow("link drops and comes back")
        << QStringList{u"--link"_s, u"LINK"_s,           u"--drop-after"_s,
                       u"1500"_s,   u"--return-after"_s, u"500"_s}
        << u"4MB"_s << u"came back after"_s;
    // The flash does not answer its ID: 4MB is assumed, which this 1MB part does not have.
    QTest::newRow("unknown flash chip")
        << QStringList{u"--jedec-id"_s, u"0xFFFFFF"_s, u"--flash-size"_s, u"1MB"_s} << u"1MB"_s
        << u"failed to erase 0x00100000"_s;
}

void TestFlasherSim::erases()
{
    QFETCH(QStringList, simulator);
    QFETCH(QString, size);
    QFETCH(QString, says);
    SimulatedBoard board(m_folder->path());
    QVERIFY(board.start(withLink(simulator)));
    const FlasherRun run =
        runFlasher(EsptoolCommandLine::eraseArguments(board.port(), u"921600"_s));
    const QByteArray flash = board.stop();
    QCOMPARE(flash.size(), size.chopped(2).toInt() * mib);
    if (says.startsWith(u"failed"_s)) {
        QVERIFY2(failedWith(run, says), qPrintable(run.output));
        return;
    }
    QVERIFY2(run.exitCode == 0 && run.output.contains(says), qPrintable(run.output));
    QVERIFY(flash == QByteArray(flash.size(), '\xFF'));
}

void TestFlasherSim::underscoresTwoFilesUncompressed()
{
    const QByteArray first = SyntheticImage::application(70 * 1024 + 1, 2);
    const QByteArray second = SyntheticImage::application(5000, 3);
    QVERIFY(writeFile(m_folder->filePath(u"a.bin"_s), first));
    QVERIFY(writeFile(m_folder->filePath(u"b.bin"_s), second));
    SimulatedBoard board(m_folder->path());
    QVERIFY(board.start({u"--flash-size"_s, u"2MB"_s}));
    const FlasherRun run = runFlasher({u"--chip"_s,
                                       u"esp32"_s,
                                       u"--port"_s,
                                       board.port(),
                                       u"--baud"_s,
                                       u"460800"_s,
                                       u"--before"_s,
                                       u"default_reset"_s,
                                       u"--after"_s,
                                       u"hard_reset"_s,
                                       u"write_flash"_s,
                                       u"--flash_mode"_s,
                                       u"dio"_s,
                                       u"--flash_freq"_s,
                                       u"80m"_s,
                                       u"--flash_size"_s,
                                       u"detect"_s,
                                       u"0x10000"_s,
                                       m_folder->filePath(u"a.bin"_s),
                                       u"0x100000"_s,
                                       m_folder->filePath(u"b.bin"_s)});
    const QByteArray flash = board.stop();
    QVERIFY2(run.exitCode == 0, qPrintable(run.output));
    QVERIFY(flash.mid(0x10000, first.size()) == first);
    QVERIFY(flash.mid(0x100000, second.size()) == second);
    QCOMPARE(run.output.count(u"(100 %)"_s), 2);
    // Without --compress the data goes out in FLASH_DATA blocks.
    const QJsonObject commands = board.stats().value(u"commands"_s).toObject();
    QVERIFY(commands.value(u"0x03"_s).toInt() > 0);
    QCOMPARE(commands.value(u"0x11"_s).toInt(), 0);
}

void TestFlasherSim::bootloaderHeaderIsPatchedOnlyAt0x1000()
{
    // A small but valid image: header, one segment, checksum unit.
    QByteArray bootloader(24, '\0');
    bootloader[0] = '\xE9';
    bootloader[1] = 1;
    bootloader[3] = 0x20;
    bootloader.append("\x00\x00\xFB\x3F\x20\x00\x00\x00"_ba);
    bootloader.append(QByteArray(32, '\x11'));
    bootloader.append(15 - bootloader.size() % 16, '\0');
    bootloader.append('\xEF');
    QVERIFY(writeFile(m_folder->filePath(u"boot.bin"_s), bootloader));
    SimulatedBoard board(m_folder->path());
    QVERIFY(board.start({u"--flash-size"_s, u"8MB"_s}));
    const FlasherRun run =
        runFlasher({u"--port"_s, board.port(), u"--before"_s, u"no-reset"_s, u"write-flash"_s,
                    u"-z"_s, u"--flash-mode"_s, u"dio"_s, u"--flash-freq"_s, u"80m"_s,
                    u"--flash-size"_s, u"detect"_s, u"0x1000"_s, m_folder->filePath(u"boot.bin"_s),
                    u"0x10000"_s, m_folder->filePath(u"boot.bin"_s)});
    const QByteArray flash = board.stop();
    QVERIFY2(run.exitCode == 0, qPrintable(run.output));
    // DIO, 8MB (detected) and 80 MHz at the bootloader; the copy at 0x10000 is as it was.
    QCOMPARE(quint8(flash[0x1002]), quint8(0x02));
    QCOMPARE(quint8(flash[0x1003]), quint8(0x3F));
    QVERIFY(flash.mid(0x1004, bootloader.size() - 4) == bootloader.mid(4));
    QVERIFY(flash.mid(0x10000, bootloader.size()) == bootloader);
}

void TestFlasherSim::badArgumentsExitWithUsage_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("no arguments") << QStringList();
    QTest::newRow("unknown command") << QStringList{u"--port"_s, u"/dev/null"_s, u"burn"_s};
    QTest::newRow("bad baud") << QStringList{u"--port"_s, u"/dev/null"_s, u"--baud"_s, u"fast"_s,
                                             u"erase-flash"_s};
}

void TestFlasherSim::badArgumentsExitWithUsage()
{
    QFETCH(QStringList, arguments);
    const FlasherRun run = runFlasher(arguments);
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.output.contains(u"usage: "_s), qPrintable(run.output));
    QVERIFY(run.lines.last().startsWith(u"Error: Bad arguments: "_s));
}

void TestFlasherSim::refusedBeforeAnythingIsErased()
{
    SimulatedBoard board(m_folder->path());
    QVERIFY(board.start({u"--flash-size"_s, u"1MB"_s, u"--fill"_s, u"0x5A"_s}));
    const QString missing = m_folder->filePath(u"nothing.bin"_s);
    const FlasherRun noFile =
        runFlasher(EsptoolCommandLine::flashArguments(board.port(), u"921600"_s, missing));
    QVERIFY2(failedWith(noFile, u"does not exist"_s), qPrintable(noFile.output));

    const QString big = m_folder->filePath(u"big.bin"_s);
    QVERIFY(writeFile(big, SyntheticImage::application(mib + 4, 5)));
    const FlasherRun tooBig =
        runFlasher(EsptoolCommandLine::flashArguments(board.port(), u"921600"_s, big));
    QVERIFY2(failedWith(tooBig, u"does not fit in the 1MB flash"_s), qPrintable(tooBig.output));
    QVERIFY(board.stop() == QByteArray(mib, '\x5A'));

    // Larger than any ESP32 flash, or no port: refused without a chip.
    QVERIFY(writeFile(big, QByteArray(16 * mib + 1, '\x01')));
    const FlasherRun huge =
        runFlasher(EsptoolCommandLine::flashArguments(u"/dev/null"_s, u"921600"_s, big));
    QVERIFY2(failedWith(huge, u"larger than any ESP32 flash"_s), qPrintable(huge.output));
    const FlasherRun noPort =
        runFlasher(EsptoolCommandLine::eraseArguments(u"/dev/ttyUSB-missing"_s, u"921600"_s));
    QVERIFY2(failedWith(noPort, u"/dev/ttyUSB-missing does not exist"_s),
             qPrintable(noPort.output));
}

void TestFlasherSim::heldPortIsBusy()
{
    SimulatedBoard board(m_folder->path());
    QVERIFY(board.start());
    // The advisory lock other serial tools take; it binds root too.
    const int holder = ::open(QFile::encodeName(board.port()).constData(), O_RDWR | O_NOCTTY);
    QVERIFY(holder >= 0);
    QCOMPARE(::flock(holder, LOCK_EX | LOCK_NB), 0);
    const FlasherRun run =
        runFlasher(EsptoolCommandLine::eraseArguments(board.port(), u"921600"_s));
    ::close(holder);
    board.stop();
    QVERIFY2(failedWith(run, u"in use by another program"_s), qPrintable(run.output));
    QCOMPARE(board.stats().value(u"bytesReceived"_s).toInt(-1), 0);
}

QTEST_GUILESS_MAIN(TestFlasherSim)
#include "tst_flasher_sim.moc"
