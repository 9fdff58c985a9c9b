// The simulated ROM loader is strict so that a sloppy flasher fails on it: each malformed or
// out-of-order request is answered with its ROM error code (or not at all). Its sessions, its
// restarts and the faults a flasher has yet to meet are pinned down here too; everything else the
// simulator does is proven by the flasher's runs against it (tests/esptool).

#include "esp32sim/chip/RomLoader.h"
#include "esp32sim/host/CommandLine.h"
#include "esp32sim/host/Esp32Simulator.h"
#include "protocol/RomCommand.h"
#include "protocol/RomReply.h"
#include "protocol/Slip.h"

#include <QFile>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <fcntl.h>
#include <initializer_list>
#include <numeric>
#include <unistd.h>

using namespace Qt::StringLiterals;
namespace command = esptool::command;
using esptool::rom::Opcode;

namespace {

// How far a fresh loader is taken before the request under test.
enum class Stage
{
    fresh,
    synced,
    attached,
    writing,          // FLASH_BEGIN of one 1 KiB block at 0
    writingDeflated,  // FLASH_DEFL_BEGIN of 1 KiB at 0
    blockWritten,     // FLASH_BEGIN of two blocks, the first written
};

QByteArray words(std::initializer_list<quint32> values)
{
    QByteArray out;
    for (const quint32 value : values) {
        char bytes[4];
        qToLittleEndian(value, bytes);
        out.append(bytes, 4);
    }
    return out;
}

QByteArray wire(const esptool::RomRequest& request)
{
    return esptool::slip::encode(request.packet);
}

QByteArray raw(quint8 opcode, const QByteArray& data, quint32 checksum = 0)
{
    return wire(command::packet(static_cast<Opcode>(opcode), data, checksum));
}

const QByteArray block(0x400, '\x5A');

constexpr quint32 resetStateRegister = 0x3FF48034;  // RTC_CNTL_RESET_STATE_REG

esp32sim::ParsedCommandLine parse(const QString& options)
{
    return esp32sim::parseCommandLine((u"esp32-sim "_s + options).split(u' ', Qt::SkipEmptyParts));
}

esp32sim::SimulatorOptions simulatorOptions(const QString& options)
{
    return parse(options).options.value_or(esp32sim::CommandLineOptions{}).simulator;
}

esptool::RomReply parsed(const QByteArray& wireFrame)
{
    return esptool::parseReply(esptool::slip::decode(wireFrame).frames.first().bytes).reply;
}

// The loader's reply to the last request in these bytes, sent at `lineBaud` if given.
std::optional<esptool::RomReply> lastReply(esp32sim::RomLoader& loader, const QByteArray& bytes,
                                           std::optional<quint32> lineBaud = std::nullopt)
{
    const esp32sim::RomLoader::FeedResult fed = loader.feed(bytes, lineBaud);
    return fed.answers.isEmpty() ? std::nullopt
                                 : std::optional(parsed(fed.answers.last().frames.last().bytes));
}

// The error code the loader answers the last of these bytes with: 0 for success, -1 for none.
int answer(esp32sim::RomLoader& loader, const QByteArray& bytes,
           std::optional<quint32> lineBaud = std::nullopt)
{
    const std::optional<esptool::RomReply> reply = lastReply(loader, bytes, lineBaud);
    return !reply ? -1 : reply->succeeded() ? 0 : reply->error;
}

// A register as READ_REG reads it after a SYNC at `lineBaud`; -1 when nothing answers.
qint64 readAfterSync(esp32sim::RomLoader& loader, quint32 address, quint32 lineBaud = 115200)
{
    const std::optional<esptool::RomReply> reply =
        lastReply(loader, wire(command::sync()) + wire(command::readReg(address)), lineBaud);
    return reply && reply->opcode == quint8(Opcode::readReg) ? qint64(reply->value) : -1;
}

// Options with FILE standing for a file of the 256 bytes 0, 1, 2, ... in `folder`.
QString withFile(QString options, const QTemporaryDir& folder)
{
    QFile file(folder.filePath(u"image.bin"_s));
    QByteArray bytes(256, '\0');
    std::iota(bytes.begin(), bytes.end(), '\0');
    const bool written = file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    return written ? options.replace(u"FILE"_s, file.fileName()) : QString();
}

// One write of a client's, at the rate its port is set to, maybe on a port it has just opened.
struct Sent
{
    QByteArray bytes;
    quint32 lineBaud = 115200;
    bool opensPort = false;
};

// A client on the simulator's pty (raw already): what it has read, without blocking.
struct PortClient
{
    explicit PortClient(const QString& path)
        : fd(::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK))
    {}
    ~PortClient() { ::close(fd); }
    bool send(const QByteArray& bytes) const { return ::write(fd, bytes.data(), bytes.size()) > 0; }
    const QByteArray& received()
    {
        char buffer[4096];
        for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
            all.append(buffer, n);
        return all;
    }

    int fd;
    QByteArray all;
};

// What the ROM prints, from captures of the chip.
QByteArray banner(const QByteArray& reset, const QByteArray& boot)
{
    return "ets Jun  8 2016 00:22:57\r\n\r\nrst:"_ba + reset + ",boot:" + boot + "\r\n";
}
const QByteArray waiting =
    "0x3 (DOWNLOAD_BOOT(UART0/UART1/SDIO_REI_REO_V2))\r\nwaiting for download"_ba;
const QByteArray failing =
    "0x13 (SPI_FAST_FLASH_BOOT)\r\nconfigsip: 0, SPIWP:0xee\r\n"
    "clk_drv:0x00,q_drv:0x00,d_drv:0x00,cs0_drv:0x00,hd_drv:0x00,wp_drv:0x00\r\n"
    "mode:DIO, clock div:2\r\nflash read err, 1000\r\nets_main.c 371 "_ba;

}  // namespace

Q_DECLARE_METATYPE(Sent)

class TestEsp32Sim : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void strictness_data();
    void strictness();
    void sessions_data();
    void sessions();
    void restarts_data();
    void restarts();
    void flipsOnlyAboveTheRate_data();
    void flipsOnlyAboveTheRate();
    void securityEfuses();
    void writeFigures();
    void loadedFlash();
    void refusedOptions_data();
    void refusedOptions();
    void onThePort();
};

void TestEsp32Sim::strictness_data()
{
    QTest::addColumn<Stage>("stage");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QString>("options");
    QTest::addColumn<int>("code");
    const QByteArray sync = wire(command::sync());
    const QByteArray readReg = wire(command::readReg(0x40001000));
    const QByteArray md5 = wire(command::spiFlashMd5(0, 0x400));

    QTest::newRow("nothing but SYNC before SYNC") << Stage::fresh << readReg << QString() << -1;
    QTest::newRow("damaged SYNC") << Stage::fresh << raw(0x08, sync.mid(9, 35)) << QString() << -1;
    QTest::newRow("SYNC of a board running its firmware")
        << Stage::fresh << sync << u"--boot-from-flash"_s << -1;
    QTest::newRow("size field one too big")
        << Stage::synced
        << wire({Opcode::readReg, "\x00\x0A\x05\x00\x00\x00\x00\x00\x00\x10\x00\x40"_ba})
        << QString() << 0x05;
    QTest::newRow("READ_REG with two words")
        << Stage::synced << raw(0x0A, words({0, 0})) << QString() << 0x05;
    QTest::newRow("GET_SECURITY_INFO") << Stage::synced << raw(0x14, {}) << QString() << 0x05;
    QTest::newRow("longer than the receive buffer")
        << Stage::synced << raw(0x07, QByteArray(0x2000, '\x01')) << QString() << 0x05;
    QTest::newRow("bad escape") << Stage::synced << "\xC0\x00\x0A\x04\x00\xDB\x01\xC0"_ba
                                << QString() << -1;
    QTest::newRow("SPI_ATTACH legacy flag set")
        << Stage::synced << raw(0x0D, words({0, 1})) << QString() << 0x01;
    QTest::newRow("SPI_SET_PARAMS before attach")
        << Stage::synced << wire(command::spiSetParams(0x400000)) << QString() << 0x01;
    QTest::newRow("SPI_SET_PARAMS 3MB")
        << Stage::attached << wire(command::spiSetParams(0x300000)) << QString() << 0x01;
    QTest::newRow("CHANGE_BAUDRATE to 0")
        << Stage::synced << wire(command::changeBaudrate(0)) << QString() << 0x01;
    QTest::newRow("FLASH_BEGIN before attach")
        << Stage::synced << wire(command::flashBegin(0x400, 1, 0x400, 0)) << QString() << 0x01;
    QTest::newRow("FLASH_BEGIN off the sector")
        << Stage::attached << wire(command::flashBegin(0x400, 1, 0x400, 0x1400)) << QString()
        << 0x01;
    QTest::newRow("FLASH_BEGIN past the flash")
        << Stage::attached << wire(command::flashBegin(0x2000, 8, 0x400, 0x3FF000)) << QString()
        << 0x01;
    QTest::newRow("FLASH_BEGIN with stub-size blocks")
        << Stage::attached << wire(command::flashBegin(0x4000, 1, 0x4000, 0)) << QString() << 0x01;
    QTest::newRow("FLASH_DATA without FLASH_BEGIN")
        << Stage::attached << wire(command::flashData(0, block)) << QString() << 0x01;
    QTest::newRow("FLASH_DATA out of sequence")
        << Stage::writing << wire(command::flashData(1, block)) << QString() << 0x01;
    QTest::newRow("FLASH_DATA block sent again")
        << Stage::blockWritten << wire(command::flashData(0, block)) << QString() << 0x01;
    QTest::newRow("FLASH_DATA block sent again, chip applies repeats")
        << Stage::blockWritten << wire(command::flashData(0, block)) << u"--apply-repeats"_s << 0;
    QTest::newRow("FLASH_DATA bad checksum")
        << Stage::writing << raw(0x03, words({0x400, 0, 0, 0}) + block, 0xEE) << QString() << 0x07;
    QTest::newRow("FLASH_DATA last block not padded")
        << Stage::writing << wire(command::flashData(0, block.left(0x100))) << QString() << 0x05;
    QTest::newRow("FLASH_DATA length word disagrees")
        << Stage::writing << raw(0x03, words({0x3FF, 0, 0, 0}) + block, 0xEF) << QString() << 0x05;
    QTest::newRow("FLASH_DATA reserved words set")
        << Stage::writing << raw(0x03, words({0x400, 0, 1, 0}) + block, 0xEF) << QString() << 0x05;
    QTest::newRow("FLASH_DATA block fails to write")
        << Stage::writing << wire(command::flashData(0, block)) << u"--write-error-block 0"_s
        << 0x08;
    QTest::newRow("FLASH_DEFL_DATA that is not zlib")
        << Stage::writingDeflated << wire(command::flashDeflData(0, "not a zlib stream"_ba))
        << QString() << 0x0B;
    QTest::newRow("FLASH_DEFL_DATA with a wrong Adler-32")
        << Stage::writingDeflated
        << wire(command::flashDeflData(0, "\x78\x9C\x63\x00\x00\x00\x01\x00\x02"_ba)) << QString()
        << 0x0C;
    QTest::newRow("FLASH_END without a session")
        << Stage::attached << raw(0x04, words({0})) << QString() << 0x01;
    QTest::newRow("SPI_FLASH_MD5 with three words")
        << Stage::attached << raw(0x13, words({0, 0x400, 0})) << QString() << 0x05;
    QTest::newRow("SPI_FLASH_MD5 past the flash")
        << Stage::attached << wire(command::spiFlashMd5(0x3FFC00, 0x800)) << QString() << 0x01;
    QTest::newRow("READ_FLASH_SLOW of more than 64 bytes")
        << Stage::attached << raw(0x0E, words({0, 65})) << QString() << 0x0A;
    QTest::newRow("SPI_FLASH_MD5 in order") << Stage::attached << md5 << QString() << 0;
}

void TestEsp32Sim::strictness()
{
    QFETCH(Stage, stage);
    QFETCH(QByteArray, request);
    QFETCH(QString, options);
    QFETCH(int, code);
    QVERIFY2(parse(options).options, qPrintable(parse(options).error));
    esp32sim::RomLoader loader(simulatorOptions(options));
    QList<QByteArray> setup;
    if (stage != Stage::fresh)
        setup << wire(command::sync());
    if (stage > Stage::synced)
        setup << wire(command::spiAttach(0));
    if (stage == Stage::writing)
        setup << wire(command::flashBegin(0x400, 1, 0x400, 0));
    if (stage == Stage::writingDeflated)
        setup << wire(command::flashDeflBegin(0x400, 1, 0x400, 0));
    if (stage == Stage::blockWritten)
        setup << wire(command::flashBegin(0x800, 2, 0x400, 0))
              << wire(command::flashData(0, block));
    for (const QByteArray& step : setup)
        QCOMPARE(answer(loader, step), 0);
    QCOMPARE(answer(loader, request), code);
}

void TestEsp32Sim::sessions_data()
{
    QTest::addColumn<QString>("options");
    QTest::addColumn<QList<Sent>>("sent");
    QTest::addColumn<int>("code");  // of the last request's answer
    QTest::addColumn<int>("sessions");
    const QByteArray sync = wire(command::sync());
    const QByteArray attach = wire(command::spiAttach(0));
    const QByteArray begin = wire(command::flashBegin(0x400, 1, 0x400, 0));
    const QByteArray to921600 = wire(command::changeBaudrate(921600));
    QTest::newRow("SYNC in a session keeps the attach")
        << QString() << QList<Sent>{{sync}, {attach}, {sync}, {begin}} << 0 << 1;
    QTest::newRow("opening the port ends the session")
        << QString() << QList<Sent>{{sync}, {attach}, {sync, 115200, true}, {begin}} << 0x01 << 2;
    QTest::newRow("SYNC in a session at another rate goes unheard")
        << u"--check-baud"_s << QList<Sent>{{sync}, {attach}, {to921600}, {sync}} << -1 << 1;
    // Restarts after bytes 100 and 200 cut the third and the fifth SYNC short.
    QTest::newRow("restarts") << u"--restart-after 100 --restart-times 2"_s
                              << QList<Sent>(6, {sync}) << 0 << 3;
    QTest::newRow("restarts into the firmware, which no open gets out of")
        << u"--restart-after 100 --restart-into firmware"_s
        << QList<Sent>(5, {sync}) + QList<Sent>{{sync, 115200, true}} << -1 << 1;
}

void TestEsp32Sim::sessions()
{
    QFETCH(QString, options);
    QFETCH(QList<Sent>, sent);
    QFETCH(int, code);
    QFETCH(int, sessions);
    esp32sim::RomLoader loader(simulatorOptions(options));
    int last = -1;
    for (const Sent& step : sent) {
        if (step.opensPort)
            loader.clientOpened();
        last = answer(loader, step.bytes, step.lineBaud);
    }
    QCOMPARE(last, code);
    QCOMPARE(loader.statistics().sessions, sessions);
}

void TestEsp32Sim::restarts_data()
{
    QTest::addColumn<QString>("options");
    QTest::addColumn<quint32>("hostBaud");
    QTest::addColumn<QByteArray>("printed");
    QTest::addColumn<qint64>("resetState");  // as READ_REG reads it after a SYNC, -1: no answer
    QTest::addColumn<QByteArray>("watchdogPrinted");
    // The restart falls in the middle of the third block.
    const qsizetype upToTheThird = wire(command::sync()).size() +
                                   wire(command::spiAttach(0)).size() +
                                   wire(command::flashBegin(0x1000, 4, 0x400, 0)).size() +
                                   wire(command::flashData(0, block)).size() * 5 / 2;
    const QString restart = u"--check-baud --restart-after %1 "_s.arg(upToTheThird);
    // A host at 921600 samples the start bit in its first seven data bits, bit 0 in its last.
    QByteArray at921600 = banner("0xf (RTCWDT_BROWN_OUT_RESET)", waiting);
    for (char& byte : at921600)
        byte = (byte & 1) != 0 ? '\x80' : '\0';
    QTest::newRow("brown-out, into the loader, host at 921600")
        << restart + u"--restart-cause brown-out"_s << 921600U << at921600 << qint64(0x3CF)
        << QByteArray();
    QTest::newRow("into the firmware") << restart + u"--restart-into firmware"_s << 115200U
                                       << banner("0x1 (POWERON_RESET)", failing) << qint64(-1)
                                       << banner("0x10 (RTCWDT_RTC_RESET)", failing);
}

void TestEsp32Sim::restarts()
{
    QFETCH(QString, options);
    QFETCH(quint32, hostBaud);
    QFETCH(QByteArray, printed);
    QFETCH(qint64, resetState);
    QFETCH(QByteArray, watchdogPrinted);
    esp32sim::RomLoader loader(simulatorOptions(options));
    QCOMPARE(loader.registers().read(resetStateRegister), 0x41U);  // as after any EN reset
    for (const QByteArray& step :
         {wire(command::sync()), wire(command::spiAttach(0)),
          wire(command::flashBegin(0x1000, 4, 0x400, 0)), wire(command::flashData(0, block)),
          wire(command::flashData(1, block))})
        QCOMPARE(answer(loader, step, hostBaud), 0);
    const esp32sim::RomLoader::FeedResult fed =
        loader.feed(wire(command::flashData(2, QByteArray(0x400, '\x33'))), hostBaud);
    QVERIFY(fed.restarted && fed.answers.isEmpty());
    QCOMPARE(fed.printed, printed);
    // The piece stays as the restart left it: two blocks written, the rest erased.
    QCOMPARE(loader.flash().read(0, 0x1000), block + block + QByteArray(0x800, '\xFF'));
    QCOMPARE(readAfterSync(loader, resetStateRegister, hostBaud), resetState);
    QCOMPARE(loader.watchdogReset(hostBaud), watchdogPrinted);
}

void TestEsp32Sim::flipsOnlyAboveTheRate_data()
{
    QTest::addColumn<QString>("options");
    QTest::addColumn<quint32>("sessionBaud");
    QTest::addColumn<bool>("flipped");
    QTest::newRow("above 460800, at 460800") << u"--flip-above 460800"_s << 460800U << false;
    QTest::newRow("above 460800, at 921600") << u"--flip-above 460800"_s << 921600U << true;
}

void TestEsp32Sim::flipsOnlyAboveTheRate()
{
    QFETCH(QString, options);
    QFETCH(quint32, sessionBaud);
    QFETCH(bool, flipped);
    esp32sim::RomLoader loader(simulatorOptions(u"--check-baud --flip-rate 0.05 "_s + options));
    loader.feed(wire(command::sync()) + wire(command::readReg(0x40001000)).repeated(20),
                sessionBaud);
    QCOMPARE(loader.statistics().bitsFlipped > 0, flipped);
}

// The named fields go over the words --efuse gave.
void TestEsp32Sim::securityEfuses()
{
    esp32sim::RomLoader loader(
        simulatorOptions(u"--efuse 0=0x87654321 --flash-crypt-cnt 3 "
                         "--efuse 6=0x3 --secure-boot v2 --disable-dl-encrypt"_s));
    QCOMPARE(readAfterSync(loader, 0x3FF5A000), 0x80354321);
    QCOMPARE(readAfterSync(loader, 0x3FF5A018), 0xA3);
}

// The third data block of the run, a compressed one, is answered with a failure although
// written. The chip erases one 64 KiB block and a sector, programs 12 pages, hashes 1 MiB at
// 1 MiB/s and waits 1 ms for a register.
void TestEsp32Sim::writeFigures()
{
    esp32sim::RomLoader loader(simulatorOptions(u"--garble-status 3 --md5-rate 1024"_s));
    loader.feed(wire(command::sync()) + wire(command::spiAttach(0)) +
                wire(command::flashBegin(0x10000, 2, 0x400, 0)));
    const QList<QByteArray> blocks{wire(command::flashData(0, QByteArray(0x400, '\x11'))),
                                   wire(command::flashData(1, QByteArray(0x400, '\x22'))),
                                   wire(command::flashDeflBegin(0x400, 1, 0x400, 0x10000)) +
                                       wire(command::flashDeflData(0, qCompress(block).mid(4)))};
    for (qsizetype i = 0; i < blocks.size(); ++i) {
        const std::optional<esptool::RomReply> reply = lastReply(loader, blocks.at(i));
        QVERIFY(reply && reply->error == 0);
        QCOMPARE(reply->status, quint8(i == 2));
    }
    QCOMPARE(loader.flash().read(0x10000, 0x400), block);
    loader.feed(wire(command::spiFlashMd5(0, 0x100000)) +
                wire(command::writeReg(0x3FF00000, 1, 0xFFFFFFFF, 1000)));
    const QJsonObject stats = loader.statistics().toJson();
    QCOMPARE(stats.value(u"eraseSeconds"_s).toDouble(), 0.150 + 0.045);
    QCOMPARE(stats.value(u"programSeconds"_s).toDouble(), 0.0048);
    QCOMPARE(stats.value(u"md5Seconds"_s).toDouble(), 1.0);
    QCOMPARE(stats.value(u"flashSeconds"_s).toDouble(), 0.195 + 0.0048 + 1.0 + 0.001);
}

// The file's bytes 0..255 up to the flash's end, and one load over another.
void TestEsp32Sim::loadedFlash()
{
    const QTemporaryDir folder;
    const esp32sim::RomLoader loader(simulatorOptions(
        withFile(u"--flash-size 1MB --load 0xFFF00=FILE --load 0x80=FILE --load FILE"_s, folder)));
    QCOMPARE(loader.flash().read(0xFFFFF, 1), "\xFF"_ba);
    QCOMPARE(loader.flash().read(0xFF, 2), "\xFF\x80"_ba);
}

void TestEsp32Sim::refusedOptions_data()
{
    QTest::addColumn<QString>("options");  // FILE stands for a file of 256 bytes
    QTest::addColumn<QString>("error");
    QTest::newRow("restart options without --restart-after")
        << u"--restart-times 2"_s << u"need --restart-after"_s;
    QTest::newRow("missing file") << u"--load FILE.missing"_s << u"cannot read --load"_s;
    QTest::newRow("past the end of the flash")
        << u"--load 0x3FFFF8=FILE"_s << u"run past the end of the flash"_s;
    QTest::newRow("address not a number") << u"--load zz=FILE"_s << u"invalid value for --load"_s;
}

void TestEsp32Sim::refusedOptions()
{
    QFETCH(QString, options);
    QFETCH(QString, error);
    const QTemporaryDir folder;
    const esp32sim::ParsedCommandLine parsed = parse(withFile(options, folder));
    QVERIFY2(!parsed.options && parsed.error.contains(error), qPrintable(parsed.error));
}

// Opening the port is a flasher's reset: a chip that was attached must be attached again. A
// board that restarted into its half-written firmware fails to boot over and over.
void TestEsp32Sim::onThePort()
{
    const QByteArray attach = wire(command::sync()) + wire(command::spiAttach(0));
    const QByteArray begin = wire(command::sync()) + wire(command::flashBegin(0x1000, 1, 0x400, 0));
    const qsizetype replies = 9 * 14;  // to SYNC, 8 of them, and to the other request
    // The restart comes with the first byte after those two.
    esp32sim::Esp32Simulator chip(simulatorOptions(
        u"--restart-into firmware --restart-after %1"_s.arg(attach.size() + begin.size() + 1)));
    QVERIFY(chip.open(nullptr));
    {
        PortClient first(chip.portPath());
        QVERIFY(first.send(attach));
        QTRY_COMPARE(first.received().size(), replies);
    }
    PortClient second(chip.portPath());
    QVERIFY(second.send(begin));
    QTRY_COMPARE(second.received().size(), replies);
    QCOMPARE(parsed(second.received().last(14)).error, quint8(0x01));

    QVERIFY(second.send(wire(command::sync())));
    const QByteArray printed =
        banner("0x1 (POWERON_RESET)", failing) + banner("0x10 (RTCWDT_RTC_RESET)", failing);
    QTRY_VERIFY(second.received().size() >= replies + printed.size());
    QCOMPARE(second.received().sliced(replies, printed.size()), printed);
}

QTEST_GUILESS_MAIN(TestEsp32Sim)
#include "tst_esp32sim.moc"
