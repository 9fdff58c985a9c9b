// The flasher executable against the simulated ESP32, both as child processes, the way the app
// runs the flasher: merged output, judged by the exit status, with the app's own command lines.
// Every fault the simulator models has a row: a run must either end with the flash holding the
// image, or fail with one error line that names the cause.

#include "flash/EsptoolCommandLine.h"
#include "support/simboard/SimulatedBoard.h"

#include <QFile>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

constexpr int runTimeoutMs = 120'000;
constexpr qsizetype mib = qsizetype{1024} * 1024;
constexpr qsizetype kb300 = qsizetype{300} * 1024;
constexpr qsizetype kb20 = qsizetype{20} * 1024;

struct FlasherRun
{
    int exitCode = -1;  // -1: did not finish
    QString output;
    QStringList lines;
};

FlasherRun
runFlasher(const QStringList& arguments,
           const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
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

QStringList args(const QString& line)
{
    return line.split(u' ', Qt::SkipEmptyParts);
}

// Random bytes with erased stretches between them, which compress away, as in firmware.
QByteArray image(qsizetype size, quint32 seed)
{
    QList<quint32> words(size / 4 + 1);
    QRandomGenerator(seed).fillRange(words.data(), words.size());
    QByteArray data(reinterpret_cast<const char*>(words.constData()), size);
    for (qsizetype at = 0x800; at < size; at += 0x1000)
        data.replace(at, std::min<qsizetype>(0x800, size - at), QByteArray(0x800, '\xFF'));
    return data.left(size);
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
    void fails_data();
    void fails();
    void padsToWholeWordsAndErasesNoMore();
    void erases_data();
    void erases();
    void underscoresPatchingUncompressed();
    void refusedBeforeAnythingIsErased();
    void protectedBoards_data();
    void protectedBoards();
    void skipsWhatTheBoardHolds_data();
    void skipsWhatTheBoardHolds();
    void tracesOnlyWhenAsked_data();
    void tracesOnlyWhenAsked();

private:
    QStringList withLink(QStringList simulator) const
    {
        return simulator.replaceInStrings(u"LINK"_s, m_folder->filePath(u"ttyUSB-sim"_s));
    }
    FlasherRun
    flashOnBoard(const QByteArray& data, const QStringList& simulator,
                 const QString& baud = u"921600"_s,
                 const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment());

    std::unique_ptr<QTemporaryDir> m_folder;
    QByteArray m_flash;  // as the last board was left
    QJsonObject m_stats;
};

// The app's write of `data` at `baud` on a board started with `simulator` (LINK for the link's
// path); the board's flash and figures go into m_flash and m_stats.
FlasherRun TestFlasherSim::flashOnBoard(const QByteArray& data, const QStringList& simulator,
                                        const QString& baud, const QProcessEnvironment& environment)
{
    const QString imagePath = m_folder->filePath(u"app image.bin"_s);
    SimulatedBoard board(m_folder->path());
    if (!writeFile(imagePath, data) || !board.start(withLink(simulator)))
        return FlasherRun{-1, u"no image file or no simulator"_s, {}};
    FlasherRun run =
        runFlasher(tavix::commandline::flashArguments(board.port(), baud, imagePath), environment);
    m_flash = board.stop();
    m_stats = board.stats();
    return run;
}

void TestFlasherSim::init()
{
    m_folder = std::make_unique<QTemporaryDir>();
    QVERIFY(m_folder->isValid());
}

namespace {

// A figure of the simulator's that the run must have brought to `least` at least: a statistic by
// its name, or with `opcode` the count of that command.
struct Figure
{
    Figure(QString name, int atLeast, std::optional<quint8> command = std::nullopt)
        : statistic(std::move(name))
        , least(atLeast)
        , opcode(command)
    {}
    QString statistic;
    int least;
    std::optional<quint8> opcode;
};
using Figures = QList<Figure>;

int valueOf(const QJsonObject& stats, const Figure& figure)
{
    const QJsonValue value = stats.value(figure.statistic);
    return figure.opcode ? value.toObject()
                               .value(u"0x%1"_s.arg(*figure.opcode, 2, 16, QLatin1Char('0')))
                               .toInt()
                         : value.toInt();
}

}  // namespace

void TestFlasherSim::writes_data()
{
    QTest::addColumn<QStringList>("simulator");
    QTest::addColumn<QString>("baud");
    QTest::addColumn<qsizetype>("size");
    QTest::addColumn<QString>("says");
    QTest::addColumn<Figures>("figures");
    const QString back = u"--link LINK --drop-after 150000 --return-after 1000 "_s;

    QTest::newRow("921600") << QStringList() << u"921600"_s << kb300 << u"Verified"_s
                            << Figures{{u"finalBaud"_s, 921600}};
    // Only frames sent at the chip's own rate are heard: a flasher that forgot to switch its
    // side of the line would fail.
    QTest::newRow("1500000, rate checked") << args(u"--check-baud"_s) << u"1500000"_s << mib
                                           << u"Verified"_s << Figures{{u"finalBaud"_s, 1500000}};
    // A chip whose clock estimate is 40.8 MHz (CK8M trim 102) runs its UART 2 % slow unless the
    // request is corrected for it; the simulator hears only frames at its true rate.
    QTest::newRow("460800, baud request corrected")
        << args(u"--check-baud --efuse 4=0x66"_s) << u"460800"_s << kb20 << u"Verified"_s
        << Figures{{u"lastBaudRequest"_s, 460800 + 1}};
    QTest::newRow("noisy line") << args(u"--flip-rate 1e-4 --seed 3"_s) << u"921600"_s << mib
                                << u"Recovered from line noise"_s << Figures{{u"bitsFlipped"_s, 1}};
    // The block goes again and the chip refuses the repeat: it had it, and the piece goes on.
    QTest::newRow("reply garbled in the write")
        << args(u"--corrupt-reply 100"_s) << u"921600"_s << kb300
        << u"1 block(s) sent again, 0 piece(s)"_s << Figures();
    QTest::newRow("reply garbled in the write, chip applies repeated blocks")
        << args(u"--corrupt-reply 100 --apply-repeats"_s) << u"921600"_s << kb300 << u"Verified"_s
        << Figures();
    QTest::newRow("reply garbled while the chip is identified")
        << args(u"--corrupt-reply 9"_s) << u"921600"_s << kb20 << u"Verified"_s << Figures();
    QTest::newRow("a write error once")
        << args(u"--write-error-block 7 --write-error-times 1"_s) << u"921600"_s << kb300
        << u"again (try 2 of 6)"_s << Figures();
    QTest::newRow("a cable bad only when fast")
        << args(u"--flip-rate 1e-3 --flip-above 460800 --check-baud"_s) << u"921600"_s << kb300
        << u"; continuing at 460800."_s << Figures();
    // A success whose status byte flipped, on a line that has shown noise: the block is there.
    QTest::newRow("a success reported as error 0x00")
        << args(u"--flip-rate 1e-4 --seed 3 --garble-status 120"_s) << u"921600"_s << mib
        << u"Verified"_s << Figures();
    // Its banner is garbage at 921600; it answers at the rate it starts at, so it restarted.
    QTest::newRow("board restarts into its loader")
        << args(u"--restart-after 150000 --check-baud"_s) << u"921600"_s << kb300
        << u"restarted during the write (power-on reset: its supply probably dropped)"_s
        << Figures{{u"restarts"_s, 1}};
    // At 115200 the banner is read as it comes.
    QTest::newRow("board restarts, banner read, brown-out")
        << args(u"--restart-after 8000 --restart-cause brown-out"_s) << u"115200"_s << kb20
        << u"restarted during the write (brown-out reset"_s << Figures{{u"restarts"_s, 1}};
    QTest::newRow("baud change: chip switched, reply lost")
        << args(u"--lose-baud-change switched"_s) << u"921600"_s << kb20
        << u"it answers at 921600 baud"_s << Figures();
    QTest::newRow("baud change: request lost")
        << args(u"--lose-baud-change ignored"_s) << u"921600"_s << kb20 << u"Verified"_s
        << Figures{{u"baudMismatches"_s, 1}};
    // Connected again, the chip has its flash parameters set again (SPI_SET_PARAMS).
    QTest::newRow("link drops and comes back")
        << args(back) << u"921600"_s << kb300 << u"came back after"_s
        << Figures{{u"commands"_s, 2, 0x0b}};
    QTest::newRow("link comes back held by another program a while")
        << args(back + u"--busy-after-return 1500"_s) << u"921600"_s << kb300
        << u"came back after"_s << Figures();
}

void TestFlasherSim::writes()
{
    QFETCH(QStringList, simulator);
    QFETCH(QString, baud);
    QFETCH(qsizetype, size);
    QFETCH(QString, says);
    QFETCH(Figures, figures);
    // Without the line rate these rows would pass without their fault.
    if (const QString why = SimulatedBoard::whyLineRateIsUnchecked(simulator); !why.isEmpty())
        QSKIP(qPrintable(why));
    const QByteArray data = image(size, 1);
    const FlasherRun run = flashOnBoard(data, simulator, baud);
    for (const Figure& figure : figures)
        QVERIFY2(valueOf(m_stats, figure) >= figure.least, qPrintable(figure.statistic));
    QVERIFY2(run.exitCode == 0 && run.output.contains(says), qPrintable(run.output));
    QVERIFY(m_flash.left(data.size()) == data);
    // A success never shows a verdict the chip did not give.
    QVERIFY2(!run.output.contains(u"(error 0x00)"_s), qPrintable(run.output));
    QVERIFY2(progressRisesFromZeroToHundred(run.lines), qPrintable(run.output));
    // A pseudo-terminal has no modem lines: one warning, and the run goes on.
    QCOMPARE(run.output.count(u"modem-control lines (DTR/RTS)"_s), 1);
    QVERIFY(run.output.contains(u"ESP32-D0WD-V3 (revision v3.1)"_s));
    QVERIFY(run.output.contains(u"MAC: 24:0a:c4:12:34:56"_s));
}

void TestFlasherSim::fails_data()
{
    QTest::addColumn<QStringList>("simulator");
    QTest::addColumn<QString>("baud");
    QTest::addColumn<qsizetype>("size");
    QTest::addColumn<QString>("error");  // a part of the one error line
    QTest::addColumn<Figures>("figures");
    const QString drop = u"--link LINK --drop-after 150000 "_s;
    const QString back = drop + u"--return-after 1000 "_s;
    QTest::newRow("a write error every time") << args(u"--write-error-block 7"_s) << u"921600"_s
                                              << kb300 << u"flash write error"_s << Figures();
    // As bad at the next rate down: back up, and no rate helps.
    QTest::newRow("line too noisy")
        << args(u"--flip-rate 1e-2"_s) << u"1500000"_s << kb300 << u"too noisy at 921600 baud"_s
        << Figures{{u"bitsFlipped"_s, 1}};
    QTest::newRow("board restarts into its half-written firmware, no modem lines")
        << args(u"--restart-after 150000 --restart-into firmware"_s) << u"921600"_s << kb300
        << u"now keeps restarting"_s << Figures{{u"restarts"_s, 1}};
    QTest::newRow("another board comes back")
        << args(back + u"--other-board-returns"_s) << u"921600"_s << kb300
        << u"Another board answered"_s << Figures();
    QTest::newRow("link never comes back")
        << args(drop) << u"921600"_s << kb300 << u"connection to the board"_s << Figures();
    QTest::newRow("link drops while syncing") << args(u"--drop-after 30"_s) << u"921600"_s << kb20
                                              << u"connection to the board"_s << Figures();
    QTest::newRow("board runs its firmware")
        << args(u"--boot-from-flash"_s) << u"921600"_s << kb20
        << u"started its own firmware instead of the serial loader"_s << Figures();
    QTest::newRow("silent port") << args(u"--no-sync"_s) << u"921600"_s << kb20
                                 << u"no data came from the port"_s << Figures();
    QTest::newRow("another chip") << args(u"--chip-magic 0x9"_s) << u"921600"_s << kb20
                                  << u"not an ESP32"_s << Figures();
}

void TestFlasherSim::fails()
{
    QFETCH(QStringList, simulator);
    QFETCH(QString, baud);
    QFETCH(qsizetype, size);
    QFETCH(QString, error);
    QFETCH(Figures, figures);
    if (const QString why = SimulatedBoard::whyLineRateIsUnchecked(simulator); !why.isEmpty())
        QSKIP(qPrintable(why));
    const FlasherRun run = flashOnBoard(image(size, 1), simulator, baud);
    for (const Figure& figure : figures)
        QVERIFY2(valueOf(m_stats, figure) >= figure.least, qPrintable(figure.statistic));
    QVERIFY2(failedWith(run, error), qPrintable(run.output));
    QVERIFY(!run.output.contains(u"Verified"_s));
}

void TestFlasherSim::padsToWholeWordsAndErasesNoMore()
{
    const qsizetype size = kb300 + 3;
    const QByteArray data = image(size, 1);
    const FlasherRun run = flashOnBoard(data, args(u"--fill 0x5A"_s));
    const QByteArray& flash = m_flash;
    QVERIFY2(run.exitCode == 0, qPrintable(run.output));
    // Padding to whole words, then what the erase of the last sector left; the flash beyond
    // that sector is untouched.
    const qsizetype sectorEnd = (size + 0xFFF) / 0x1000 * 0x1000;
    QVERIFY(flash.left(size) == data);
    QVERIFY(flash.mid(size, sectorEnd - size) == QByteArray(sectorEnd - size, '\xFF'));
    QVERIFY(flash.mid(sectorEnd) == QByteArray(flash.size() - sectorEnd, '\x5A'));
    QVERIFY(run.output.contains(u"Wrote %1 bytes"_s.arg((size + 3) / 4 * 4)));
}

void TestFlasherSim::erases_data()
{
    QTest::addColumn<QStringList>("simulator");
    QTest::addColumn<QString>("size");
    QTest::addColumn<QString>("says");
    QTest::newRow("noisy line") << args(u"--flip-rate 1e-4"_s) << u"4MB"_s << u"Erased 4MB in"_s;
    // A flash that erases about as slowly as a real part may (some tens of seconds for a large
    // one): the flasher waits as long as the ROM takes, not as long as a fast simulator.
    QTest::newRow("a slow flash, in real time")
        << args(u"--timing --erase-rate 40 --flash-size 1MB"_s) << u"1MB"_s << u"Erased 1MB in"_s;
    QTest::newRow("link drops and comes back")
        << args(u"--link LINK --drop-after 1500 --return-after 500"_s) << u"4MB"_s
        << u"came back after"_s;
    // The flash does not answer its ID: 4MB is assumed, which this 1MB part does not have.
    QTest::newRow("unknown flash chip") << args(u"--jedec-id 0xFFFFFF --flash-size 1MB"_s)
                                        << u"1MB"_s << u"failed to erase 0x00100000"_s;
}

void TestFlasherSim::erases()
{
    QFETCH(QStringList, simulator);
    QFETCH(QString, size);
    QFETCH(QString, says);
    SimulatedBoard board(m_folder->path());
    QVERIFY(board.start(withLink(simulator)));
    const FlasherRun run =
        runFlasher(tavix::commandline::eraseArguments(board.port(), u"921600"_s));
    const QByteArray flash = board.stop();
    QCOMPARE(flash.size(), size.chopped(2).toInt() * mib);
    if (says.startsWith(u"failed"_s)) {
        QVERIFY2(failedWith(run, says), qPrintable(run.output));
        return;
    }
    QVERIFY2(run.exitCode == 0 && run.output.contains(says), qPrintable(run.output));
    QVERIFY(flash == QByteArray(flash.size(), '\xFF'));
}

void TestFlasherSim::underscoresPatchingUncompressed()
{
    // A small but valid bootloader image: header, one segment, checksum unit.
    QByteArray boot = "\xE9\x01\x00\x20"_ba + QByteArray(20, '\0') +
                      "\x00\x00\xFB\x3F\x20\0\0\0"_ba + QByteArray(32, '\x11');
    boot.append(15 - boot.size() % 16, '\0').append('\xEF');
    const QByteArray app = image(70 * 1024 + 1, 2);
    QVERIFY(writeFile(m_folder->filePath(u"boot.bin"_s), boot));
    QVERIFY(writeFile(m_folder->filePath(u"app.bin"_s), app));
    SimulatedBoard board(m_folder->path());
    QVERIFY(board.start(args(u"--flash-size 8MB"_s)));
    const FlasherRun run = runFlasher(
        args(u"--chip esp32 --port %1 --baud 460800 --before default_reset --after hard_reset "
             "write_flash --flash_mode dio --flash_freq 80m --flash_size detect 0x1000 %2 "
             "0x10000 %2 0x20000 %3"_s.arg(board.port(), m_folder->filePath(u"boot.bin"_s),
                                           m_folder->filePath(u"app.bin"_s))));
    const QByteArray flash = board.stop();
    QVERIFY2(run.exitCode == 0, qPrintable(run.output));
    // DIO, 8MB (detected) and 80 MHz at the bootloader only; the copy at 0x10000 is as it was.
    QCOMPARE(flash.mid(0x1002, 2), "\x02\x3F"_ba);
    QVERIFY(flash.mid(0x1004, boot.size() - 4) == boot.mid(4));
    QVERIFY(flash.mid(0x10000, boot.size()) == boot);
    QVERIFY(flash.mid(0x20000, app.size()) == app);
    QCOMPARE(run.output.count(u"(100 %)"_s), 3);
    // Without --compress the data goes out in FLASH_DATA blocks.
    const QJsonObject commands = board.stats().value(u"commands"_s).toObject();
    QVERIFY(commands.value(u"0x03"_s).toInt() > 0);
    QCOMPARE(commands.value(u"0x11"_s).toInt(), 0);
}

void TestFlasherSim::refusedBeforeAnythingIsErased()
{
    for (const QString& arguments :
         {QString(), u"--port /dev/null burn"_s, u"--port /dev/null --baud fast erase-flash"_s}) {
        const FlasherRun run = runFlasher(args(arguments));
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.output.contains(u"usage: "_s), qPrintable(run.output));
        QVERIFY(run.lines.last().startsWith(u"Error: Bad arguments: "_s));
    }
    SimulatedBoard board(m_folder->path());
    QVERIFY(board.start({u"--flash-size"_s, u"1MB"_s, u"--fill"_s, u"0x5A"_s}));
    const QString missing = m_folder->filePath(u"nothing.bin"_s);
    const FlasherRun noFile =
        runFlasher(tavix::commandline::flashArguments(board.port(), u"921600"_s, missing));
    QVERIFY2(failedWith(noFile, u"does not exist"_s), qPrintable(noFile.output));

    const QString big = m_folder->filePath(u"big.bin"_s);
    QVERIFY(writeFile(big, image(mib + 1, 5)));
    const FlasherRun tooBig =
        runFlasher(tavix::commandline::flashArguments(board.port(), u"921600"_s, big));
    QVERIFY2(failedWith(tooBig, u"does not fit in the 1MB flash"_s), qPrintable(tooBig.output));
    QVERIFY(board.stop() == QByteArray(mib, '\x5A'));

    // Larger than any ESP32 flash, or no port: refused without a chip.
    QVERIFY(writeFile(big, QByteArray(16 * mib + 1, '\x01')));
    const FlasherRun huge =
        runFlasher(tavix::commandline::flashArguments(u"/dev/null"_s, u"921600"_s, big));
    QVERIFY2(failedWith(huge, u"larger than any ESP32 flash"_s), qPrintable(huge.output));
    const FlasherRun noPort =
        runFlasher(tavix::commandline::eraseArguments(u"/dev/ttyUSB-missing"_s, u"921600"_s));
    QVERIFY2(failedWith(noPort, u"/dev/ttyUSB-missing does not exist"_s),
             qPrintable(noPort.output));
}

void TestFlasherSim::protectedBoards_data()
{
    QTest::addColumn<QStringList>("simulator");
    QTest::addColumn<bool>("loaded");       // the board holds the image already
    QTest::addColumn<bool>("erase");        // erase-flash, or write the image
    QTest::addColumn<QStringList>("more");  // after the app's own command line
    QTest::addColumn<QString>("says");      // the error line, or the warning of a forced run
    QTest::addColumn<bool>("changed");      // the flash is written or erased
    QTest::newRow("encrypted board, plain image")
        << args(u"--flash-crypt-cnt 1"_s) << false << false << QStringList()
        << u"Flash encryption is on"_s << false;
    // Refused even where the board already holds every byte of it.
    QTest::newRow("encrypted board that holds the image")
        << args(u"--flash-crypt-cnt 1"_s) << true << false << QStringList()
        << u"Flash encryption is on"_s << false;
    QTest::newRow("encrypted board, plain image, forced")
        << args(u"--flash-crypt-cnt 1"_s) << false << false << args(u"--force"_s)
        << u"GOING AHEAD BECAUSE OF --force: Flash encryption is on"_s << true;
    QTest::newRow("encryption switched off again")
        << args(u"--flash-crypt-cnt 3"_s) << false << false << QStringList() << u"Verified"_s
        << true;
    QTest::newRow("Secure Boot V2, bootloader") << args(u"--secure-boot v2"_s) << false << false
                                                << QStringList() << u"Secure Boot V2"_s << false;
    QTest::newRow("Secure Boot V1, erase") << args(u"--secure-boot v1"_s) << false << true
                                           << QStringList() << u"Secure Boot V1"_s << false;
    QTest::newRow("release mode, erase")
        << args(u"--flash-crypt-cnt 1 --disable-dl-encrypt"_s) << false << true << QStringList()
        << u"DISABLE_DL_ENCRYPT"_s << false;
}

void TestFlasherSim::protectedBoards()
{
    QFETCH(QStringList, simulator);
    QFETCH(bool, loaded);
    QFETCH(bool, erase);
    QFETCH(QStringList, more);
    QFETCH(QString, says);
    QFETCH(bool, changed);
    QByteArray plain = image(0x9000, 4);
    plain[0x1000] = '\xE9';  // a bootloader's header where the bootloader starts
    const QString imagePath = m_folder->filePath(u"plain.bin"_s);
    QVERIFY(writeFile(imagePath, plain));
    const QStringList load = loaded ? QStringList{u"--load"_s, imagePath} : QStringList();
    QByteArray before(mib, '\x5A');
    if (loaded)
        before.replace(0, plain.size(), plain);
    SimulatedBoard board(m_folder->path());
    QVERIFY(board.start(simulator + load + args(u"--fill 0x5A --flash-size 1MB"_s)));
    const QStringList command =
        erase ? tavix::commandline::eraseArguments(board.port(), u"921600"_s)
              : tavix::commandline::flashArguments(board.port(), u"921600"_s, imagePath);
    const FlasherRun run = runFlasher(command + more);
    const QByteArray flash = board.stop();
    QVERIFY2(run.output.contains(says), qPrintable(run.output));
    QCOMPARE(run.exitCode, changed ? 0 : 1);
    // A refusal comes before anything is erased.
    QCOMPARE(flash != before, changed);
}

namespace {

QByteArray flipped(QByteArray data, std::initializer_list<qsizetype> offsets)
{
    for (const qsizetype at : offsets)
        data[at] = static_cast<char>(~data[at]);
    return data;
}

// The bytes the run wrote, as it says: "Wrote N bytes", or none at all.
qsizetype bytesWritten(const FlasherRun& run)
{
    static const QRegularExpression wrote(u"^Wrote (\\d+) bytes"_s);
    for (const QString& line : run.lines) {
        if (const QRegularExpressionMatch match = wrote.match(line); match.hasMatch())
            return match.captured(1).toLongLong();
    }
    return run.output.contains(u"nothing needed writing"_s) ? 0 : -1;
}

}  // namespace

void TestFlasherSim::skipsWhatTheBoardHolds_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("board");  // what the flash holds at 0x0 before
    QTest::addColumn<QStringList>("simulator");
    QTest::addColumn<qsizetype>("fewest");  // bytes written, at least and at most
    QTest::addColumn<qsizetype>("most");
    const QByteArray data = image(kb300, 6);
    // Ends 100 bytes into a sector: the last sector is checked and written as far as it goes.
    const QByteArray ragged = image(kb300 + 100, 7);
    const qsizetype sector = 0x1000;
    QTest::newRow("the board holds the image")
        << data << data << QStringList() << qsizetype{0} << qsizetype{0};
    QTest::newRow("one sector changed in the middle of a piece")
        << data << flipped(data, {0x13456}) << QStringList() << sector << sector;
    QTest::newRow("the first and the last sector of the region changed")
        << data << flipped(data, {0, kb300 - 1}) << QStringList() << 2 * sector << 2 * sector;
    QTest::newRow("the last, partial sector changed")
        << ragged << flipped(ragged, {kb300 + 99}) << QStringList() << qsizetype{100}
        << qsizetype{100};
    QTest::newRow("the board holds something else")
        << data << image(kb300, 99) << QStringList() << kb300 << kb300;
    // A digest damaged on its way never matches: at worst more is written than needed.
    QTest::newRow("a noisy line while checking")
        << data << flipped(data, {0x13456}) << args(u"--flip-rate 2e-4 --seed 4"_s) << sector
        << kb300;
}

void TestFlasherSim::skipsWhatTheBoardHolds()
{
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, board);
    QFETCH(QStringList, simulator);
    QFETCH(qsizetype, fewest);
    QFETCH(qsizetype, most);
    const QString boardPath = m_folder->filePath(u"board.bin"_s);
    QVERIFY(writeFile(boardPath, board));
    const FlasherRun run = flashOnBoard(data, simulator + QStringList{u"--load"_s, boardPath});
    QVERIFY2(run.exitCode == 0 && run.output.contains(u"Verified"_s), qPrintable(run.output));
    QVERIFY(m_flash.left(data.size()) == data);
    QVERIFY2(progressRisesFromZeroToHundred(run.lines), qPrintable(run.output));
    const qsizetype written = bytesWritten(run);
    QVERIFY2(written >= fewest && written <= most, qPrintable(run.output));
}

void TestFlasherSim::tracesOnlyWhenAsked_data()
{
    QTest::addColumn<QString>("rules");  // QT_LOGGING_RULES
    QTest::addColumn<bool>("traced");
    QTest::newRow("by default") << QString() << false;
    QTest::newRow("switched on") << u"tavix.flasher.*.debug=true"_s << true;
}

void TestFlasherSim::tracesOnlyWhenAsked()
{
    QFETCH(QString, rules);
    QFETCH(bool, traced);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"QT_LOGGING_RULES"_s, rules);
    const FlasherRun run = flashOnBoard(image(kb20, 3), args(u"--flip-rate 1e-4 --seed 2"_s),
                                        u"921600"_s, environment);
    QVERIFY2(run.exitCode == 0, qPrintable(run.output));
    const QStringList traces = run.lines.filter(QRegularExpression(u"^tavix\\.flasher\\."_s));
    QCOMPARE(!traces.isEmpty(), traced);
    // Merged into the app's console, a trace must never be read as progress.
    QVERIFY(traces.filter(u"%"_s).isEmpty());
    QVERIFY2(progressRisesFromZeroToHundred(run.lines), qPrintable(run.output));
}

QTEST_GUILESS_MAIN(TestFlasherSim)
#include "tst_flasher_sim.moc"
