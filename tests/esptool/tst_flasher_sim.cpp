// The flasher executable against the simulated ESP32 ROM loader, both as child processes, the
// way the app runs the flasher: merged output, judged by the exit status.

#include "SimulatedBoard.h"
#include "SyntheticImage.h"
#include "flash/EsptoolCommandLine.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

constexpr int runTimeoutMs = 90'000;
constexpr qsizetype mib = qsizetype{1024} * 1024;

struct FlasherRun
{
    bool finished = false;
    int exitCode = -1;
    QString output;
    QStringList lines;
};

FlasherRun runFlasher(const QStringList& arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral(ESPTOOL_BINARY), arguments);
    FlasherRun run;
    run.finished = process.waitForStarted() && process.waitForFinished(runTimeoutMs);
    if (!run.finished) {
        process.kill();
        process.waitForFinished();
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.output = QString::fromUtf8(process.readAll());
    run.lines = run.output.split(u'\n', Qt::SkipEmptyParts);
    return run;
}

bool writeFile(const QString& path, const QByteArray& data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

// The percentages the app would read, in order.
QList<int> progressPercents(const QStringList& lines)
{
    static const QRegularExpression progress(
        u"^Writing at 0x[0-9a-f]{8}\\.\\.\\. \\((\\d+) %\\)$"_s);
    QList<int> percents;
    for (const QString& line : lines) {
        const QRegularExpressionMatch match = progress.match(line);
        if (match.hasMatch())
            percents << match.captured(1).toInt();
    }
    return percents;
}

bool risesToHundred(const QList<int>& percents)
{
    if (percents.isEmpty() || percents.last() != 100)
        return false;
    for (qsizetype i = 1; i < percents.size(); ++i) {
        if (percents[i] <= percents[i - 1])
            return false;
    }
    return true;
}

}  // namespace

class TestFlasherSim : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void flashesWithTheAppCommandLine_data();
    void flashesWithTheAppCommandLine();
    void underscoreSpellingAndUncompressedWrite();
    void bootloaderHeaderIsPatchedOnlyAt0x1000();
    void erasesTheWholeFlash_data();
    void erasesTheWholeFlash();
    void faultsFailWithTheirReason_data();
    void faultsFailWithTheirReason();
    void badArgumentsExitWithUsage_data();
    void badArgumentsExitWithUsage();
    void missingFileFailsBeforeTouchingThePort();
    void fileLargerThanTheFlashIsRefused();
    void missingPortIsNamed();
    void busyPortIsNamed();

private:
    std::unique_ptr<QTemporaryDir> m_folder;
};

void TestFlasherSim::init()
{
    m_folder = std::make_unique<QTemporaryDir>();
    QVERIFY(m_folder->isValid());
}

void TestFlasherSim::flashesWithTheAppCommandLine_data()
{
    QTest::addColumn<QString>("baud");
    QTest::addColumn<qsizetype>("size");
    QTest::newRow("921600, 300 KB") << u"921600"_s << qsizetype(300 * 1024 + 3);
    QTest::newRow("1500000, 1 MB") << u"1500000"_s << qsizetype(mib);
    QTest::newRow("115200, 20 KB") << u"115200"_s << qsizetype(20 * 1024);
}

void TestFlasherSim::flashesWithTheAppCommandLine()
{
    QFETCH(QString, baud);
    QFETCH(qsizetype, size);
    const QByteArray image = SyntheticImage::application(size, 1);
    const QString imagePath = m_folder->filePath(u"app image.bin"_s);
    QVERIFY(writeFile(imagePath, image));
    SimulatedBoard board(m_folder->path());
    QVERIFY(board.start({u"--fill"_s, u"0x5A"_s}));

    const FlasherRun run =
        runFlasher(EsptoolCommandLine::flashArguments(board.port(), baud, imagePath));
    const QByteArray flash = board.stop();
    QVERIFY2(run.finished, qPrintable(run.output));
    QVERIFY2(run.exitCode == 0, qPrintable(run.output));

    QCOMPARE(flash.size(), 4 * mib);
    // The image at 0x0 is written as it is: no header patching away from 0x1000.
    QVERIFY(flash.left(image.size()) == image);
    // Padding to whole words, then whatever the erase of the last sector left; beyond that
    // sector the flash is untouched.
    const qsizetype sectorEnd = (image.size() + 0xFFF) / 0x1000 * 0x1000;
    QVERIFY(flash.mid(image.size(), sectorEnd - image.size()) ==
            QByteArray(sectorEnd - image.size(), '\xFF'));
    QVERIFY(flash.mid(sectorEnd) == QByteArray(flash.size() - sectorEnd, '\x5A'));

    QVERIFY2(risesToHundred(progressPercents(run.lines)), qPrintable(run.output));
    QVERIFY(run.output.contains(u"ESP32-D0WD-V3 (revision v3.1)"_s));
    QVERIFY(run.output.contains(u"MAC: 24:0a:c4:12:34:56"_s));
    QVERIFY(run.output.contains(u"Wrote %1 bytes"_s.arg((size + 3) / 4 * 4)));
    QVERIFY(run.output.contains(u"kbit/s"_s));
    QVERIFY(run.output.contains(u"Verified"_s));
    // A pseudo-terminal has no modem lines: one warning, and the run goes on.
    QCOMPARE(run.output.count(u"modem-control lines (DTR/RTS)"_s), 1);
    QCOMPARE(board.stats().value(u"finalBaud"_s).toInt(), baud.toInt());
}

void TestFlasherSim::underscoreSpellingAndUncompressedWrite()
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
    QCOMPARE(flash.size(), 2 * mib);
    QVERIFY(flash.mid(0x10000, first.size()) == first);
    QVERIFY(flash.mid(0x100000, second.size()) == second);
    QVERIFY(!run.output.contains(u"compressed"_s));
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
    QVERIFY(writeFile(m_folder->filePath(u"app.bin"_s), bootloader));
    SimulatedBoard board(m_folder->path());
    QVERIFY(board.start({u"--flash-size"_s, u"8MB"_s}));
    const FlasherRun run =
        runFlasher({u"--port"_s, board.port(), u"--before"_s, u"no-reset"_s, u"write-flash"_s,
                    u"-z"_s, u"--flash-mode"_s, u"dio"_s, u"--flash-freq"_s, u"80m"_s,
                    u"--flash-size"_s, u"detect"_s, u"0x1000"_s, m_folder->filePath(u"boot.bin"_s),
                    u"0x10000"_s, m_folder->filePath(u"app.bin"_s)});
    const QByteArray flash = board.stop();
    QVERIFY2(run.exitCode == 0, qPrintable(run.output));
    // DIO, 8MB (detected) and 80 MHz at the bootloader; the copy at 0x10000 is as it was.
    QCOMPARE(quint8(flash[0x1002]), quint8(0x02));
    QCOMPARE(quint8(flash[0x1003]), quint8(0x3F));
    QVERIFY(flash.mid(0x1004, bootloader.size() - 4) == bootloader.mid(4));
    QVERIFY(flash.mid(0x10000, bootloader.size()) == bootloader);
}

void TestFlasherSim::erasesTheWholeFlash_data()
{
    QTest::addColumn<QString>("size");
    QTest::addColumn<bool>("underscores");
    QTest::newRow("4MB, app line") << u"4MB"_s << false;
    QTest::newRow("2MB, underscores") << u"2MB"_s << true;
    QTest::newRow("16MB, app line") << u"16MB"_s << false;
}

void TestFlasherSim::erasesTheWholeFlash()
{
    QFETCH(QString, size);
    QFETCH(bool, underscores);
    SimulatedBoard board(m_folder->path());
    QVERIFY(board.start({u"--flash-size"_s, size}));
    QStringList arguments = EsptoolCommandLine::eraseArguments(board.port(), u"921600"_s);
    if (underscores) {
        arguments.replaceInStrings(u"erase-flash"_s, u"erase_flash"_s)
            .replaceInStrings(u"default-reset"_s, u"default_reset"_s)
            .replaceInStrings(u"hard-reset"_s, u"hard_reset"_s);
    }
    const FlasherRun run = runFlasher(arguments);
    const QByteArray flash = board.stop();
    QVERIFY2(run.exitCode == 0, qPrintable(run.output));
    QCOMPARE(flash.size(), size.chopped(2).toInt() * mib);
    QVERIFY(flash == QByteArray(flash.size(), '\xFF'));
    QVERIFY2(run.output.contains(u"Erased %1 in "_s.arg(size)), qPrintable(run.output));
    QVERIFY(run.output.contains(u"Erasing the whole flash"_s));
}

void TestFlasherSim::faultsFailWithTheirReason_data()
{
    QTest::addColumn<QStringList>("simulator");
    QTest::addColumn<bool>("erase");
    QTest::addColumn<QString>("reason");

    QTest::newRow("no sync") << QStringList{u"--no-sync"_s} << false << u"No answer"_s;
    QTest::newRow("no sync, erase") << QStringList{u"--no-sync"_s} << true << u"No answer"_s;
    QTest::newRow("other chip") << QStringList{u"--chip-magic"_s, u"0x9"_s} << false
                                << u"not an ESP32"_s;
    QTest::newRow("link dropped mid-write")
        << QStringList{u"--drop-after"_s, u"60000"_s} << false << u"connection to the board"_s;
    QTest::newRow("link dropped while syncing")
        << QStringList{u"--drop-after"_s, u"30"_s} << true << u"connection to the board"_s;
    QTest::newRow("corrupted reply during chip detection")
        << QStringList{u"--corrupt-reply"_s, u"9"_s} << false << u"garbled"_s;
    QTest::newRow("corrupted reply during the write")
        << QStringList{u"--corrupt-reply"_s, u"60"_s} << false << u"garbled"_s;
    QTest::newRow("write error on a block")
        << QStringList{u"--write-error-block"_s, u"7"_s} << false << u"flash write error"_s;
    QTest::newRow("unknown flash chip, erase falls back but this one is small")
        << QStringList{u"--jedec-id"_s, u"0xFFFFFF"_s, u"--flash-size"_s, u"1MB"_s} << true
        << u"erase the flash"_s;
}

void TestFlasherSim::faultsFailWithTheirReason()
{
    QFETCH(QStringList, simulator);
    QFETCH(bool, erase);
    QFETCH(QString, reason);
    const QString imagePath = m_folder->filePath(u"image.bin"_s);
    QVERIFY(writeFile(imagePath, SyntheticImage::application(qsizetype{200} * 1024, 4)));
    SimulatedBoard board(m_folder->path());
    QVERIFY(board.start(simulator));
    const QStringList arguments =
        erase ? EsptoolCommandLine::eraseArguments(board.port(), u"921600"_s)
              : EsptoolCommandLine::flashArguments(board.port(), u"921600"_s, imagePath);
    const FlasherRun run = runFlasher(arguments);
    board.stop();
    QVERIFY2(run.finished, qPrintable(run.output));
    QVERIFY2(run.exitCode != 0, qPrintable(run.output));
    QVERIFY(!run.lines.isEmpty());
    // The last line says why, on its own.
    const QString last = run.lines.last();
    QVERIFY2(last.startsWith(u"Error: "_s) && last.contains(reason), qPrintable(run.output));
    QCOMPARE(run.output.count(u"Error: "_s), 1);
    QVERIFY(!run.output.contains(u"Done"_s));
    QVERIFY(!run.output.contains(u"Verified"_s));
}

void TestFlasherSim::badArgumentsExitWithUsage_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("no arguments") << QStringList();
    QTest::newRow("unknown command") << QStringList{u"--port"_s, u"/dev/null"_s, u"burn"_s};
    QTest::newRow("odd pairs") << QStringList{u"--port"_s, u"/dev/null"_s, u"write-flash"_s,
                                              u"0x0"_s};
    QTest::newRow("bad baud") << QStringList{u"--port"_s, u"/dev/null"_s, u"--baud"_s, u"fast"_s,
                                             u"erase-flash"_s};
    QTest::newRow("other chip") << QStringList{u"--chip"_s, u"esp8266"_s, u"--port"_s,
                                               u"/dev/null"_s, u"erase-flash"_s};
}

void TestFlasherSim::badArgumentsExitWithUsage()
{
    QFETCH(QStringList, arguments);
    const FlasherRun run = runFlasher(arguments);
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.output.contains(u"usage: "_s), qPrintable(run.output));
    QVERIFY(run.lines.last().startsWith(u"Error: Bad arguments: "_s));
}

void TestFlasherSim::missingFileFailsBeforeTouchingThePort()
{
    SimulatedBoard board(m_folder->path());
    QVERIFY(board.start());
    const FlasherRun run = runFlasher(EsptoolCommandLine::flashArguments(
        board.port(), u"921600"_s, m_folder->filePath(u"nothing.bin"_s)));
    board.stop();
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.lines.last().contains(u"does not exist"_s), qPrintable(run.output));
    QCOMPARE(board.stats().value(u"bytesReceived"_s).toInt(-1), 0);
}

void TestFlasherSim::fileLargerThanTheFlashIsRefused()
{
    const QString imagePath = m_folder->filePath(u"big.bin"_s);
    QVERIFY(writeFile(imagePath, SyntheticImage::application(mib + 4, 5)));
    SimulatedBoard board(m_folder->path());
    QVERIFY(board.start({u"--flash-size"_s, u"1MB"_s, u"--fill"_s, u"0x5A"_s}));
    const FlasherRun run =
        runFlasher(EsptoolCommandLine::flashArguments(board.port(), u"921600"_s, imagePath));
    const QByteArray flash = board.stop();
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.lines.last().contains(u"does not fit in the 1MB flash"_s), qPrintable(run.output));
    // Refused before anything was erased.
    QVERIFY(flash == QByteArray(mib, '\x5A'));

    // Larger than any ESP32 flash: refused without a chip.
    QVERIFY(writeFile(imagePath, QByteArray(16 * mib + 1, '\x01')));
    const FlasherRun huge =
        runFlasher(EsptoolCommandLine::flashArguments(u"/dev/null"_s, u"921600"_s, imagePath));
    QCOMPARE(huge.exitCode, 1);
    QVERIFY2(huge.lines.last().contains(u"larger than any ESP32 flash"_s), qPrintable(huge.output));
}

void TestFlasherSim::missingPortIsNamed()
{
    const FlasherRun run =
        runFlasher(EsptoolCommandLine::eraseArguments(u"/dev/ttyUSB-missing"_s, u"921600"_s));
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.lines.last().contains(u"/dev/ttyUSB-missing does not exist"_s),
             qPrintable(run.output));
}

void TestFlasherSim::busyPortIsNamed()
{
    SimulatedBoard board(m_folder->path());
    QVERIFY(board.start());
    QSerialPort holder(board.port());
    QVERIFY2(holder.open(QIODevice::ReadWrite), qPrintable(holder.errorString()));
    const FlasherRun run =
        runFlasher(EsptoolCommandLine::eraseArguments(board.port(), u"921600"_s));
    holder.close();
    board.stop();
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.lines.last().contains(u"in use by another program"_s), qPrintable(run.output));
}

QTEST_GUILESS_MAIN(TestFlasherSim)
#include "tst_flasher_sim.moc"
