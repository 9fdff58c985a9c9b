// The simulated ROM loader is strict so that a sloppy flasher fails on it: each malformed or
// out-of-order request is answered with its ROM error code (or not at all). Its sessions, its
// restarts and the faults a flasher has yet to meet are pinned down here too; everything else the
// simulator does is proven by the flasher's runs against it (tests/esptool).

#include "CommandLine.h"
#include "Esp32Simulator.h"
#include "RomLoader.h"
#include "UartSampling.h"
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
#include <termios.h>
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

constexpr quint32 resetStateRegister = 0x3FF48034;

esptool::RomReply parsed(const QByteArray& wireFrame)
{
    const auto frames = esptool::slip::decode(wireFrame).frames;
    return esptool::parseReply(frames.first().bytes).reply;
}

// The loader's reply to the last request in these bytes, sent at `lineBaud` if given.
std::optional<esptool::RomReply> lastReply(esp32sim::RomLoader& loader, const QByteArray& bytes,
                                           std::optional<quint32> lineBaud = std::nullopt)
{
    const esp32sim::RomLoader::FeedResult fed = loader.feed(bytes, lineBaud);
    if (fed.answers.isEmpty())
        return std::nullopt;
    return parsed(fed.answers.last().frames.last().bytes);
}

// The error code the loader answers the last of these bytes with: 0 for success, -1 for none.
int answer(esp32sim::RomLoader& loader, const QByteArray& bytes,
           std::optional<quint32> lineBaud = std::nullopt)
{
    const std::optional<esptool::RomReply> reply = lastReply(loader, bytes, lineBaud);
    if (!reply)
        return -1;
    return reply->succeeded() ? 0 : reply->error;
}

// A register as READ_REG reads it after a SYNC at `lineBaud`; -1 when nothing answers.
qint64 readAfterSync(esp32sim::RomLoader& loader, quint32 address, quint32 lineBaud)
{
    const std::optional<esptool::RomReply> reply =
        lastReply(loader, wire(command::sync()) + wire(command::readReg(address)), lineBaud);
    return reply && reply->opcode == quint8(Opcode::readReg) ? qint64(reply->value) : -1;
}

esp32sim::SimulatorOptions simulatorOptions(const QString& options)
{
    const esp32sim::ParsedCommandLine parsed =
        esp32sim::parseCommandLine((u"esp32-sim "_s + options).split(u' ', Qt::SkipEmptyParts));
    return parsed.options ? parsed.options->simulator : esp32sim::SimulatorOptions{};
}

QString parseError(const QString& options)
{
    return esp32sim::parseCommandLine((u"esp32-sim "_s + options).split(u' ', Qt::SkipEmptyParts))
        .error;
}

// One write of a client's, at the rate its port is set to, maybe on a port it has just opened.
struct Sent
{
    QByteArray bytes;
    quint32 lineBaud = 115200;
    bool opensPort = false;
};

// A client on the simulator's pty, as a flasher's port: raw, read without blocking.
class PortClient
{
public:
    explicit PortClient(const QString& path)
        : m_fd(::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK))
    {
        termios settings{};
        if (m_fd >= 0 && ::tcgetattr(m_fd, &settings) == 0) {
            ::cfmakeraw(&settings);
            ::tcsetattr(m_fd, TCSANOW, &settings);
        }
    }
    ~PortClient() { ::close(m_fd); }
    PortClient(const PortClient&) = delete;
    PortClient& operator=(const PortClient&) = delete;

    bool send(const QByteArray& bytes) const
    {
        return ::write(m_fd, bytes.constData(), std::size_t(bytes.size())) == bytes.size();
    }
    // Everything received so far.
    const QByteArray& received()
    {
        char buffer[4096];
        for (ssize_t n; (n = ::read(m_fd, buffer, sizeof buffer)) > 0;)
            m_received.append(buffer, n);
        return m_received;
    }

private:
    int m_fd;
    QByteArray m_received;
};

// What the ROM prints, from the chip's own captures.
const QByteArray downloadBannerPowerOn =
    "ets Jun  8 2016 00:22:57\r\n\r\nrst:0x1 (POWERON_RESET),boot:0x3 "
    "(DOWNLOAD_BOOT(UART0/UART1/SDIO_REI_REO_V2))\r\nwaiting for download\r\n"_ba;
const QByteArray downloadBannerBrownOut =
    "ets Jun  8 2016 00:22:57\r\n\r\nrst:0xf (RTCWDT_BROWN_OUT_RESET),boot:0x3 "
    "(DOWNLOAD_BOOT(UART0/UART1/SDIO_REI_REO_V2))\r\nwaiting for download\r\n"_ba;
QByteArray failedBootBanner(const QByteArray& reset)
{
    return "ets Jun  8 2016 00:22:57\r\n\r\nrst:"_ba + reset +
           ",boot:0x13 (SPI_FAST_FLASH_BOOT)\r\nconfigsip: 0, SPIWP:0xee\r\n"
           "clk_drv:0x00,q_drv:0x00,d_drv:0x00,cs0_drv:0x00,hd_drv:0x00,wp_drv:0x00\r\n"
           "mode:DIO, clock div:2\r\nflash read err, 1000\r\nets_main.c 371 \r\n";
}

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
    void restartsCounted_data();
    void restartsCounted();
    void hostSamplesSlowBytes_data();
    void hostSamplesSlowBytes();
    void flipsOnlyAboveTheRate_data();
    void flipsOnlyAboveTheRate();
    void securityEfuses_data();
    void securityEfuses();
    void garbledStatus_data();
    void garbledStatus();
    void workTimes_data();
    void workTimes();
    void loadedFlash_data();
    void loadedFlash();
    void refusedOptions_data();
    void refusedOptions();
    void openingThePortResetsTheChip();
    void bootLoopKeepsPrinting();
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
    QVERIFY2(parseError(options).isEmpty(), qPrintable(parseError(options)));
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
    const QByteArray readReg = wire(command::readReg(0x40001000));
    const QByteArray to921600 = wire(command::changeBaudrate(921600));

    QTest::newRow("SYNC in a session keeps the attach")
        << QString() << QList<Sent>{{sync}, {attach}, {sync}, {begin}} << 0 << 1;
    QTest::newRow("opening the port ends the session")
        << QString() << QList<Sent>{{sync}, {attach}, {sync, 115200, true}, {begin}} << 0x01 << 2;
    QTest::newRow("SYNC in a session at another rate goes unheard")
        << u"--check-baud"_s << QList<Sent>{{sync}, {sync, 921600}} << -1 << 1;
    QTest::newRow("SYNC at the session's new rate")
        << u"--check-baud"_s
        << QList<Sent>{{sync}, {attach}, {to921600}, {sync, 921600}, {begin, 921600}} << 0 << 1;
    QTest::newRow("after opening the port the first SYNC sets the rate")
        << u"--check-baud"_s
        << QList<Sent>{{sync}, {to921600}, {sync, 460800, true}, {readReg, 460800}} << 0 << 2;
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
    const qsizetype before = wire(command::sync()).size() + wire(command::spiAttach(0)).size() +
                             wire(command::flashBegin(0x1000, 4, 0x400, 0)).size() +
                             2 * wire(command::flashData(0, block)).size();
    const QString restart = u"--check-baud --restart-after %1 "_s.arg(
        before + wire(command::flashData(2, block)).size() / 2);

    QTest::newRow("into the loader")
        << restart << 115200U << downloadBannerPowerOn << qint64(0x41) << QByteArray();
    QTest::newRow("brown-out, into the loader, host at 921600")
        << restart + u"--restart-cause brown-out"_s << 921600U
        << esp32sim::sampledAtRate(downloadBannerBrownOut, 115200, 921600) << qint64(0x3CF)
        << QByteArray();
    QTest::newRow("into the firmware") << restart + u"--restart-into firmware"_s << 115200U
                                       << failedBootBanner("0x1 (POWERON_RESET)") << qint64(-1)
                                       << failedBootBanner("0x10 (RTCWDT_RTC_RESET)");
}

void TestEsp32Sim::restarts()
{
    QFETCH(QString, options);
    QFETCH(quint32, hostBaud);
    QFETCH(QByteArray, printed);
    QFETCH(qint64, resetState);
    QFETCH(QByteArray, watchdogPrinted);
    esp32sim::RomLoader loader(simulatorOptions(options));
    QCOMPARE(loader.registers().read(resetStateRegister), 0x41U);
    for (const QByteArray& step : {wire(command::sync()), wire(command::spiAttach(0)),
                                   wire(command::flashBegin(0x1000, 4, 0x400, 0)),
                                   wire(command::flashData(0, QByteArray(0x400, '\x11'))),
                                   wire(command::flashData(1, QByteArray(0x400, '\x22')))})
        QCOMPARE(answer(loader, step, hostBaud), 0);

    const esp32sim::RomLoader::FeedResult fed =
        loader.feed(wire(command::flashData(2, QByteArray(0x400, '\x33'))), hostBaud);
    QVERIFY(fed.restarted);
    QVERIFY(fed.answers.isEmpty());
    QCOMPARE(fed.printed, printed);
    QVERIFY(!fed.printed.contains(esptool::slip::frameEnd));
    // The piece stays as the restart left it: two blocks written, the rest erased.
    QCOMPARE(loader.flash().read(0, 0x1000),
             QByteArray(0x400, '\x11') + QByteArray(0x400, '\x22') + QByteArray(0x800, '\xFF'));
    QCOMPARE(readAfterSync(loader, resetStateRegister, hostBaud), resetState);
    QCOMPARE(loader.baud(), hostBaud);
    QCOMPARE(loader.watchdogReset(hostBaud), watchdogPrinted);
    QCOMPARE(loader.statistics().restarts, 1);
}

void TestEsp32Sim::restartsCounted_data()
{
    QTest::addColumn<QString>("options");
    QTest::addColumn<int>("restarts");
    QTest::addColumn<int>("sessions");
    // 50 SYNCs of 46 bytes: a restart cuts one short, and the next one starts a session.
    QTest::newRow("once") << u"--restart-after 500"_s << 1 << 2;
    QTest::newRow("three times") << u"--restart-after 500 --restart-times 3"_s << 3 << 4;
    QTest::newRow("into the firmware, which never listens again")
        << u"--restart-after 500 --restart-times 3 --restart-into firmware"_s << 1 << 1;
    QTest::newRow("not yet") << u"--restart-after 5000"_s << 0 << 1;
}

void TestEsp32Sim::restartsCounted()
{
    QFETCH(QString, options);
    QFETCH(int, restarts);
    QFETCH(int, sessions);
    esp32sim::RomLoader loader(simulatorOptions(options));
    loader.feed(wire(command::sync()).repeated(50));
    QCOMPARE(loader.statistics().restarts, restarts);
    QCOMPARE(loader.statistics().sessions, sessions);
}

void TestEsp32Sim::hostSamplesSlowBytes_data()
{
    QTest::addColumn<quint32>("hostBaud");
    QTest::addColumn<char>("sent");  // at 115200
    QTest::addColumn<char>("read");
    // Worked out bit by bit: start bit low, data bits from bit 0, stop bit and idle line high.
    QTest::newRow("same rate") << 115200U << '\x65' << '\x65';
    QTest::newRow("921600, bit 0 set") << 921600U << '\x65' << '\x80';
    QTest::newRow("921600, bit 0 clear") << 921600U << '\x74' << '\x00';
    QTest::newRow("460800") << 460800U << '\x65' << '\x78';
    QTest::newRow("460800, all ones") << 460800U << '\xFF' << '\xF8';
    QTest::newRow("230400") << 230400U << '\x0F' << '\xFE';
    QTest::newRow("1500000") << 1500000U << '\xFF' << '\x00';
    QTest::newRow("a slower host") << 57600U << '\x00' << '\xF8';
}

void TestEsp32Sim::hostSamplesSlowBytes()
{
    QFETCH(quint32, hostBaud);
    QFETCH(char, sent);
    QFETCH(char, read);
    QCOMPARE(esp32sim::sampledAtRate(QByteArray(1, sent), 115200, hostBaud), QByteArray(1, read));
}

void TestEsp32Sim::flipsOnlyAboveTheRate_data()
{
    QTest::addColumn<QString>("options");
    QTest::addColumn<quint32>("sessionBaud");
    QTest::addColumn<bool>("flipped");
    QTest::newRow("any rate") << QString() << 115200U << true;
    QTest::newRow("above 460800, at 115200") << u"--flip-above 460800"_s << 115200U << false;
    QTest::newRow("above 460800, at 460800") << u"--flip-above 460800"_s << 460800U << false;
    QTest::newRow("above 460800, at 921600") << u"--flip-above 460800"_s << 921600U << true;
}

void TestEsp32Sim::flipsOnlyAboveTheRate()
{
    QFETCH(QString, options);
    QFETCH(quint32, sessionBaud);
    QFETCH(bool, flipped);
    esp32sim::RomLoader loader(simulatorOptions(u"--check-baud --flip-rate 0.05 "_s + options));
    loader.feed(wire(command::sync()), sessionBaud);
    loader.feed(wire(command::readReg(0x40001000)).repeated(20), sessionBaud);
    QCOMPARE(loader.statistics().bitsFlipped > 0, flipped);
}

void TestEsp32Sim::securityEfuses_data()
{
    QTest::addColumn<QString>("options");
    QTest::addColumn<quint32>("address");
    QTest::addColumn<qint64>("value");
    const quint32 word0 = 0x3FF5A000;
    const quint32 word6 = 0x3FF5A018;
    QTest::newRow("FLASH_CRYPT_CNT 1") << u"--flash-crypt-cnt 1"_s << word0 << qint64(0x00100000);
    QTest::newRow("FLASH_CRYPT_CNT 127")
        << u"--flash-crypt-cnt 127"_s << word0 << qint64(0x07F00000);
    QTest::newRow("FLASH_CRYPT_CNT over --efuse")
        << u"--efuse 0=0x87654321 --flash-crypt-cnt 3"_s << word0 << qint64(0x80354321);
    QTest::newRow("secure boot v1") << u"--secure-boot v1"_s << word6 << qint64(0x10);
    QTest::newRow("secure boot v2, download encryption disabled")
        << u"--secure-boot v2 --disable-dl-encrypt"_s << word6 << qint64(0xA0);
    QTest::newRow("secure boot over --efuse")
        << u"--efuse 6=0x3 --secure-boot v1"_s << word6 << qint64(0x13);
}

void TestEsp32Sim::securityEfuses()
{
    QFETCH(QString, options);
    QFETCH(quint32, address);
    QFETCH(qint64, value);
    esp32sim::RomLoader loader(simulatorOptions(options));
    QCOMPARE(readAfterSync(loader, address, 115200), value);
}

void TestEsp32Sim::garbledStatus_data()
{
    QTest::addColumn<QString>("options");
    QTest::addColumn<int>("garbled");  // which of the three data blocks' replies, 0 for none
    QTest::newRow("second block") << u"--garble-status 2"_s << 2;
    QTest::newRow("a compressed block counts too") << u"--garble-status 3"_s << 3;
    QTest::newRow("past the last block") << u"--garble-status 4"_s << 0;
}

void TestEsp32Sim::garbledStatus()
{
    QFETCH(QString, options);
    QFETCH(int, garbled);
    esp32sim::RomLoader loader(simulatorOptions(options));
    const QByteArray third(0x400, '\x33');
    for (const QByteArray& step : {wire(command::sync()), wire(command::spiAttach(0)),
                                   wire(command::flashBegin(0x800, 2, 0x400, 0))})
        QCOMPARE(answer(loader, step), 0);
    const QList<QByteArray> blocks{wire(command::flashData(0, QByteArray(0x400, '\x11'))),
                                   wire(command::flashData(1, QByteArray(0x400, '\x22'))),
                                   wire(command::flashDeflBegin(0x400, 1, 0x400, 0x1000)) +
                                       wire(command::flashDeflData(0, qCompress(third).mid(4)))};
    for (qsizetype i = 0; i < blocks.size(); ++i) {
        const std::optional<esptool::RomReply> reply = lastReply(loader, blocks.at(i));
        QVERIFY(reply);
        QCOMPARE(reply->status, quint8(i + 1 == garbled));
        QCOMPARE(reply->error, quint8(0));
    }
    // Every block was written, the garbled one too.
    QCOMPARE(loader.flash().read(0, 0x800), QByteArray(0x400, '\x11') + QByteArray(0x400, '\x22'));
    QCOMPARE(loader.flash().read(0x1000, 0x400), third);
}

void TestEsp32Sim::workTimes_data()
{
    QTest::addColumn<QString>("options");
    QTest::addColumn<double>("md5Seconds");  // of 1 MiB
    QTest::newRow("250 ns a byte") << QString() << 0.262144;
    QTest::newRow("1 MiB/s") << u"--md5-rate 1024"_s << 1.0;
    QTest::newRow("8 MiB/s") << u"--md5-rate 8192"_s << 0.125;
}

void TestEsp32Sim::workTimes()
{
    QFETCH(QString, options);
    QFETCH(double, md5Seconds);
    esp32sim::RomLoader loader(simulatorOptions(options));
    // A 64 KiB block erase, 4 pages programmed, 1 MiB hashed and a 1 ms register delay.
    for (const QByteArray& step :
         {wire(command::sync()), wire(command::spiAttach(0)),
          wire(command::flashBegin(0x10000, 1, 0x400, 0)), wire(command::flashData(0, block)),
          wire(command::spiFlashMd5(0, 0x100000)),
          wire(command::writeReg(0x3FF00000, 1, 0xFFFFFFFF, 1000))})
        QCOMPARE(answer(loader, step), 0);
    const QJsonObject stats = loader.statistics().toJson();
    QCOMPARE(stats.value(u"eraseSeconds"_s).toDouble(), 0.150);
    QCOMPARE(stats.value(u"programSeconds"_s).toDouble(), 0.0016);
    QCOMPARE(stats.value(u"md5Seconds"_s).toDouble(), md5Seconds);
    QCOMPARE(stats.value(u"flashSeconds"_s).toDouble(), 0.150 + 0.0016 + md5Seconds + 0.001);
}

void TestEsp32Sim::loadedFlash_data()
{
    QTest::addColumn<QString>("options");  // FILE stands for a file of 256 bytes
    QTest::addColumn<quint32>("address");
    QTest::newRow("at 0") << u"--load FILE"_s << 0U;
    QTest::newRow("at an address") << u"--load 0x1000=FILE"_s << 0x1000U;
    QTest::newRow("up to the flash's end") << u"--flash-size 1MB --load 1048320=FILE"_s << 0xFFF00U;
    QTest::newRow("the later one over the earlier")
        << u"--fill 0 --load 0x80=FILE --load FILE"_s << 0U;
}

void TestEsp32Sim::loadedFlash()
{
    QFETCH(QString, options);
    QFETCH(quint32, address);
    QTemporaryDir folder;
    QByteArray content;
    for (int i = 0; i < 256; ++i)
        content.append(char(i));
    QFile file(folder.filePath(u"image.bin"_s));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
    file.close();
    const esp32sim::SimulatorOptions sim =
        simulatorOptions(options.replace(u"FILE"_s, file.fileName()));
    esp32sim::RomLoader loader(sim);
    QCOMPARE(loader.flash().read(address, 256), content);
    QCOMPARE(loader.flash().size(), sim.flashSize);
}

void TestEsp32Sim::refusedOptions_data()
{
    QTest::addColumn<QString>("options");  // FILE stands for a file of 16 bytes
    QTest::addColumn<QString>("error");
    QTest::newRow("restart options without --restart-after")
        << u"--restart-times 2"_s << u"need --restart-after"_s;
    QTest::newRow("unknown reset cause")
        << u"--restart-after 10 --restart-cause sag"_s << u"sag (power-on or brown-out)"_s;
    QTest::newRow("restart into what")
        << u"--restart-after 10 --restart-into rom"_s << u"rom (loader or firmware)"_s;
    QTest::newRow("FLASH_CRYPT_CNT too big")
        << u"--flash-crypt-cnt 128"_s << u"invalid value for --flash-crypt-cnt: 128"_s;
    QTest::newRow("secure boot v3") << u"--secure-boot v3"_s << u"v3 (v1 or v2)"_s;
    QTest::newRow("MD5 never done") << u"--md5-rate 0"_s << u"invalid value for --md5-rate: 0"_s;
    QTest::newRow("missing file") << u"--load FILE.missing"_s << u"cannot read --load"_s;
    QTest::newRow("past the end of the flash")
        << u"--load 0x3FFFF8=FILE"_s << u"run past the end of the flash"_s;
    QTest::newRow("address not a number") << u"--load zz=FILE"_s << u"invalid value for --load"_s;
    QTest::newRow("address past the flash")
        << u"--flash-size 1MB --load 0x100000=FILE"_s << u"invalid value for --load"_s;
}

void TestEsp32Sim::refusedOptions()
{
    QFETCH(QString, options);
    QFETCH(QString, error);
    QTemporaryDir folder;
    QFile file(folder.filePath(u"image.bin"_s));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray(16, '\x01')) == 16);
    file.close();
    const QString message = parseError(options.replace(u"FILE"_s, file.fileName()));
    QVERIFY2(message.contains(error), qPrintable(message));
}

// The port's open is the flasher's reset: a chip that was attached must be attached again.
void TestEsp32Sim::openingThePortResetsTheChip()
{
    esp32sim::Esp32Simulator chip({});
    QString error;
    QVERIFY2(chip.open(&error), qPrintable(error));
    const QByteArray syncReplies =
        esptool::slip::encode("\x01\x08\x04\x00\x07\x07\x12\x20\x00\x00\x00\x00"_ba).repeated(8);
    {
        PortClient first(chip.slavePath());
        QVERIFY(first.send(wire(command::sync()) + wire(command::spiAttach(0))));
        QTRY_COMPARE(first.received().size(), syncReplies.size() + 14);
    }
    PortClient second(chip.slavePath());
    QVERIFY(second.send(wire(command::sync()) + wire(command::flashBegin(0x1000, 1, 0x400, 0))));
    QTRY_COMPARE(second.received().size(), syncReplies.size() + 14);
    QCOMPARE(parsed(second.received().mid(syncReplies.size())).error, quint8(0x01));
    QCOMPARE(chip.statistics().sessions, 2);
}

// A board that restarted into its half-written firmware fails to boot, over and over; opening
// the port again does not get it out.
void TestEsp32Sim::bootLoopKeepsPrinting()
{
    esp32sim::Esp32Simulator chip(
        simulatorOptions(u"--restart-after 46 --restart-into firmware"_s));
    QString error;
    QVERIFY2(chip.open(&error), qPrintable(error));
    PortClient port(chip.slavePath());
    QVERIFY(port.send(wire(command::sync())));
    const QByteArray first = failedBootBanner("0x1 (POWERON_RESET)");
    const QByteArray again = failedBootBanner("0x10 (RTCWDT_RTC_RESET)");
    QTRY_VERIFY(port.received().size() >= first.size() + again.size());
    QCOMPARE(port.received().left(first.size() + again.size()), first + again);

    PortClient reopened(chip.slavePath());
    QVERIFY(reopened.send(wire(command::sync())));
    QTRY_VERIFY(reopened.received().contains(again + again));
    QVERIFY(!reopened.received().contains(esptool::slip::frameEnd));
}

QTEST_GUILESS_MAIN(TestEsp32Sim)
#include "tst_esp32sim.moc"
