// The simulated ROM loader is strict so that a sloppy flasher fails on it: each malformed or
// out-of-order request is answered with its ROM error code (or not at all). Its sessions, its
// restarts, its command line and the faults a flasher has yet to meet are pinned down here too;
// everything else the simulator does is proven by the flasher's runs against it (tests/esptool).

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
#include <memory>
#include <numeric>
#include <unistd.h>

using namespace Qt::StringLiterals;
namespace command = esptool::command;
using esp32sim::RomError;
using esptool::rom::Opcode;

namespace {

// Commands the flasher never sends, from the protocol's documentation.
constexpr quint8 memDataOpcode = 0x07;
constexpr quint8 readFlashSlowOpcode = 0x0E;
constexpr quint8 getSecurityInfoOpcode = 0x14;

constexpr quint32 resetStateRegister = 0x3FF48034;  // RTC_CNTL_RESET_STATE_REG

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

QList<QByteArray> stepsTo(Stage stage)
{
    const QByteArray sync = wire(command::sync());
    const QByteArray attach = wire(command::spiAttach(0));
    switch (stage) {
    case Stage::fresh:
        return {};
    case Stage::synced:
        return {sync};
    case Stage::attached:
        return {sync, attach};
    case Stage::writing:
        return {sync, attach, wire(command::flashBegin(0x400, 1, 0x400, 0))};
    case Stage::writingDeflated:
        return {sync, attach, wire(command::flashDeflBegin(0x400, 1, 0x400, 0))};
    case Stage::blockWritten:
        return {sync, attach, wire(command::flashBegin(0x800, 2, 0x400, 0)),
                wire(command::flashData(0, block))};
    }
    return {};
}

esp32sim::ParsedCommandLine parse(const QStringList& arguments)
{
    return esp32sim::parseCommandLine(QStringList{u"esp32-sim"_s} + arguments);
}

// The chip's options from its command line; none, with the reason in the log, when refused.
std::optional<esp32sim::SimulatorOptions> simulatorOptions(const QStringList& arguments)
{
    const esp32sim::ParsedCommandLine parsed = parse(arguments);
    if (!parsed.options) {
        qWarning("%s", qPrintable(parsed.error));
        return std::nullopt;
    }
    return parsed.options->simulator;
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

// The error byte of the answer to the last of these bytes (0 on success); none when unanswered.
std::optional<quint8> errorAnswering(esp32sim::RomLoader& loader, const QByteArray& bytes,
                                     quint32 lineBaud)
{
    const std::optional<esptool::RomReply> reply = lastReply(loader, bytes, lineBaud);
    return reply ? std::optional(reply->error) : std::nullopt;
}

// A loader with these options, taken to `stage`; none, with the reason in the log, when the options
// are refused or a step on the way is not answered with success.
std::unique_ptr<esp32sim::RomLoader> loaderAt(const QStringList& arguments,
                                              Stage stage = Stage::fresh)
{
    const std::optional<esp32sim::SimulatorOptions> options = simulatorOptions(arguments);
    if (!options)
        return nullptr;
    auto loader = std::make_unique<esp32sim::RomLoader>(*options);
    for (const QByteArray& step : stepsTo(stage)) {
        if (const std::optional<esptool::RomReply> reply = lastReply(*loader, step);
            !reply || !reply->succeeded()) {
            qWarning("a request on the way to the stage failed");
            return nullptr;
        }
    }
    return loader;
}

// A register as READ_REG reads it after a SYNC at `lineBaud`; none when nothing answers.
std::optional<quint32> readAfterSync(esp32sim::RomLoader& loader, quint32 address,
                                     quint32 lineBaud = 115200)
{
    const std::optional<esptool::RomReply> reply =
        lastReply(loader, wire(command::sync()) + wire(command::readReg(address)), lineBaud);
    return reply && reply->opcode == quint8(Opcode::readReg) ? std::optional(reply->value)
                                                             : std::nullopt;
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

class TestEsp32Sim : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void refused_data();
    void refused();
    void unanswered_data();
    void unanswered();
    void sessions_data();
    void sessions();
    void restarts_data();
    void restarts();
    void appliesRepeats();
    void flipsOnlyAboveTheRate_data();
    void flipsOnlyAboveTheRate();
    void securityEfuses();
    void writeFigures();
    void loadedFlash();
    void refusedOptions_data();
    void refusedOptions();
    void onThePort();

private:
    QTemporaryDir m_folder;
    QString m_image;  // the 256 bytes 0, 1, 2, ...
};

void TestEsp32Sim::initTestCase()
{
    QFile file(m_folder.filePath(u"image.bin"_s));
    QByteArray bytes(256, '\0');
    std::iota(bytes.begin(), bytes.end(), '\0');
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    m_image = file.fileName();
}

void TestEsp32Sim::refused_data()
{
    QTest::addColumn<Stage>("stage");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<RomError>("error");
    QTest::newRow("size field one too big")
        << Stage::synced
        << wire({Opcode::readReg, "\x00\x0A\x05\x00\x00\x00\x00\x00\x00\x10\x00\x40"_ba})
        << RomError::invalidMessage;
    QTest::newRow("READ_REG with two words")
        << Stage::synced << raw(quint8(Opcode::readReg), words({0, 0})) << RomError::invalidMessage;
    QTest::newRow("GET_SECURITY_INFO")
        << Stage::synced << raw(getSecurityInfoOpcode, {}) << RomError::invalidMessage;
    QTest::newRow("longer than the receive buffer")
        << Stage::synced << raw(memDataOpcode, QByteArray(0x2000, '\x01'))
        << RomError::invalidMessage;
    QTest::newRow("SPI_ATTACH legacy flag set")
        << Stage::synced << raw(quint8(Opcode::spiAttach), words({0, 1}))
        << RomError::invalidParameter;
    QTest::newRow("SPI_SET_PARAMS before attach")
        << Stage::synced << wire(command::spiSetParams(0x400000)) << RomError::invalidParameter;
    QTest::newRow("SPI_SET_PARAMS 3MB")
        << Stage::attached << wire(command::spiSetParams(0x300000)) << RomError::invalidParameter;
    QTest::newRow("CHANGE_BAUDRATE to 0")
        << Stage::synced << wire(command::changeBaudrate(0)) << RomError::invalidParameter;
    QTest::newRow("FLASH_BEGIN before attach")
        << Stage::synced << wire(command::flashBegin(0x400, 1, 0x400, 0))
        << RomError::invalidParameter;
    QTest::newRow("FLASH_BEGIN off the sector")
        << Stage::attached << wire(command::flashBegin(0x400, 1, 0x400, 0x1400))
        << RomError::invalidParameter;
    QTest::newRow("FLASH_BEGIN past the flash")
        << Stage::attached << wire(command::flashBegin(0x2000, 8, 0x400, 0x3FF000))
        << RomError::invalidParameter;
    QTest::newRow("FLASH_BEGIN with stub-size blocks")
        << Stage::attached << wire(command::flashBegin(0x4000, 1, 0x4000, 0))
        << RomError::invalidParameter;
    QTest::newRow("FLASH_DATA without FLASH_BEGIN")
        << Stage::attached << wire(command::flashData(0, block)) << RomError::invalidParameter;
    QTest::newRow("FLASH_DATA out of sequence")
        << Stage::writing << wire(command::flashData(1, block)) << RomError::invalidParameter;
    QTest::newRow("FLASH_DATA block sent again")
        << Stage::blockWritten << wire(command::flashData(0, block)) << RomError::invalidParameter;
    QTest::newRow("FLASH_DATA bad checksum")
        << Stage::writing << raw(quint8(Opcode::flashData), words({0x400, 0, 0, 0}) + block, 0xEE)
        << RomError::badChecksum;
    QTest::newRow("FLASH_DATA last block not padded")
        << Stage::writing << wire(command::flashData(0, block.left(0x100)))
        << RomError::invalidMessage;
    QTest::newRow("FLASH_DATA length word disagrees")
        << Stage::writing << raw(quint8(Opcode::flashData), words({0x3FF, 0, 0, 0}) + block, 0xEF)
        << RomError::invalidMessage;
    QTest::newRow("FLASH_DATA reserved words set")
        << Stage::writing << raw(quint8(Opcode::flashData), words({0x400, 0, 1, 0}) + block, 0xEF)
        << RomError::invalidMessage;
    QTest::newRow("FLASH_DEFL_DATA that is not zlib")
        << Stage::writingDeflated << wire(command::flashDeflData(0, "not a zlib stream"_ba))
        << RomError::inflateFailed;
    QTest::newRow("FLASH_DEFL_DATA with a wrong Adler-32")
        << Stage::writingDeflated
        << wire(command::flashDeflData(0, "\x78\x9C\x63\x00\x00\x00\x01\x00\x02"_ba))
        << RomError::inflateAdlerMismatch;
    QTest::newRow("FLASH_END without a session")
        << Stage::attached << raw(quint8(Opcode::flashEnd), words({0}))
        << RomError::invalidParameter;
    QTest::newRow("SPI_FLASH_MD5 with three words")
        << Stage::attached << raw(quint8(Opcode::spiFlashMd5), words({0, 0x400, 0}))
        << RomError::invalidMessage;
    QTest::newRow("SPI_FLASH_MD5 past the flash")
        << Stage::attached << wire(command::spiFlashMd5(0x3FFC00, 0x800))
        << RomError::invalidParameter;
    QTest::newRow("READ_FLASH_SLOW of more than 64 bytes")
        << Stage::attached << raw(readFlashSlowOpcode, words({0, 65})) << RomError::flashReadLength;
}

// The error comes as a RomError through QFETCH, so the column's type must be found under its
// full name.
void TestEsp32Sim::refused()
{
    QFETCH(Stage, stage);
    QFETCH(QByteArray, request);
    QFETCH(RomError, error);
    const std::unique_ptr<esp32sim::RomLoader> loader = loaderAt({}, stage);
    QVERIFY(loader);
    const std::optional<esptool::RomReply> reply = lastReply(*loader, request);
    QVERIFY(reply && !reply->succeeded());
    QCOMPARE(RomError(reply->error), error);
}

void TestEsp32Sim::unanswered_data()
{
    QTest::addColumn<Stage>("stage");
    QTest::addColumn<QByteArray>("request");
    const QByteArray sync = wire(command::sync());
    QTest::newRow("nothing but SYNC before SYNC")
        << Stage::fresh << wire(command::readReg(0x40001000));
    QTest::newRow("damaged SYNC") << Stage::fresh << raw(quint8(Opcode::sync), sync.mid(9, 35));
    QTest::newRow("bad escape") << Stage::synced << "\xC0\x00\x0A\x04\x00\xDB\x01\xC0"_ba;
}

void TestEsp32Sim::unanswered()
{
    QFETCH(Stage, stage);
    QFETCH(QByteArray, request);
    const std::unique_ptr<esp32sim::RomLoader> loader = loaderAt({}, stage);
    QVERIFY(loader);
    QVERIFY(!lastReply(*loader, request));
}

void TestEsp32Sim::sessions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QList<Sent>>("sent");
    QTest::addColumn<std::optional<quint8>>("error");  // answering the last request
    QTest::addColumn<int>("sessions");
    const QByteArray sync = wire(command::sync());
    const QByteArray attach = wire(command::spiAttach(0));
    const QByteArray begin = wire(command::flashBegin(0x400, 1, 0x400, 0));
    const QByteArray to921600 = wire(command::changeBaudrate(921600));
    const std::optional<quint8> succeeded = 0;
    const std::optional<quint8> unanswered;
    QTest::newRow("SYNC in a session keeps the attach")
        << QStringList() << QList<Sent>{{sync}, {attach}, {sync}, {begin}} << succeeded << 1;
    QTest::newRow("opening the port ends the session")
        << QStringList() << QList<Sent>{{sync}, {attach}, {sync, 115200, true}, {begin}}
        << std::optional(quint8(RomError::invalidParameter)) << 2;
    QTest::newRow("SYNC in a session at another rate goes unheard")
        << QStringList{u"--check-baud"_s} << QList<Sent>{{sync}, {attach}, {to921600}, {sync}}
        << unanswered << 1;
    // Restarts after bytes 100 and 200 cut the third and the fifth SYNC short.
    QTest::newRow("restarts") << QStringList{u"--restart-after"_s, u"100"_s, u"--restart-times"_s,
                                             u"2"_s}
                              << QList<Sent>(6, {sync}) << succeeded << 3;
    QTest::newRow("restarts into the firmware, which no open gets out of")
        << QStringList{u"--restart-after"_s, u"100"_s, u"--restart-into"_s, u"firmware"_s}
        << QList<Sent>(5, {sync}) + QList<Sent>{{sync, 115200, true}} << unanswered << 1;
}

void TestEsp32Sim::sessions()
{
    QFETCH(QStringList, arguments);
    QFETCH(QList<Sent>, sent);
    QFETCH(std::optional<quint8>, error);
    QFETCH(int, sessions);
    const std::unique_ptr<esp32sim::RomLoader> loader = loaderAt(arguments);
    QVERIFY(loader);
    std::optional<quint8> last;
    for (const Sent& step : sent) {
        if (step.opensPort)
            loader->clientOpened();
        last = errorAnswering(*loader, step.bytes, step.lineBaud);
    }
    QCOMPARE(last, error);
    QCOMPARE(loader->statistics().sessions, sessions);
}

void TestEsp32Sim::restarts_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<quint32>("hostBaud");
    QTest::addColumn<QByteArray>("printed");
    QTest::addColumn<std::optional<quint32>>("resetState");  // as READ_REG reads it after a SYNC
    QTest::addColumn<QByteArray>("watchdogPrinted");
    // The restart falls in the middle of the third block.
    const qsizetype upToTheThird = wire(command::sync()).size() +
                                   wire(command::spiAttach(0)).size() +
                                   wire(command::flashBegin(0x1000, 4, 0x400, 0)).size() +
                                   wire(command::flashData(0, block)).size() * 5 / 2;
    const QStringList restart{u"--check-baud"_s, u"--restart-after"_s,
                              QString::number(upToTheThird)};
    // A host at 921600 samples the start bit in its first seven data bits, bit 0 in its last.
    QByteArray at921600 = banner("0xf (RTCWDT_BROWN_OUT_RESET)", waiting);
    for (char& byte : at921600)
        byte = (byte & 1) != 0 ? '\x80' : '\0';
    QTest::newRow("brown-out, into the loader, host at 921600")
        << restart + QStringList{u"--restart-cause"_s, u"brown-out"_s} << 921600U << at921600
        << std::optional<quint32>(0x3CF) << QByteArray();
    QTest::newRow("into the firmware")
        << restart + QStringList{u"--restart-into"_s, u"firmware"_s} << 115200U
        << banner("0x1 (POWERON_RESET)", failing) << std::optional<quint32>()
        << banner("0x10 (RTCWDT_RTC_RESET)", failing);
}

void TestEsp32Sim::restarts()
{
    QFETCH(QStringList, arguments);
    QFETCH(quint32, hostBaud);
    QFETCH(QByteArray, printed);
    QFETCH(std::optional<quint32>, resetState);
    QFETCH(QByteArray, watchdogPrinted);
    const std::unique_ptr<esp32sim::RomLoader> loader = loaderAt(arguments);
    QVERIFY(loader);
    QCOMPARE(loader->registers().read(resetStateRegister), 0x41U);  // as after any EN reset
    for (const QByteArray& step :
         {wire(command::sync()), wire(command::spiAttach(0)),
          wire(command::flashBegin(0x1000, 4, 0x400, 0)), wire(command::flashData(0, block)),
          wire(command::flashData(1, block))})
        QCOMPARE(errorAnswering(*loader, step, hostBaud), std::optional<quint8>(0));
    const esp32sim::RomLoader::FeedResult fed =
        loader->feed(wire(command::flashData(2, QByteArray(0x400, '\x33'))), hostBaud);
    QVERIFY(fed.restarted && fed.answers.isEmpty());
    QCOMPARE(fed.printed, printed);
    // The piece stays as the restart left it: two blocks written, the rest erased.
    QCOMPARE(loader->flash().read(0, 0x1000), block + block + QByteArray(0x800, '\xFF'));
    QCOMPARE(readAfterSync(*loader, resetStateRegister, hostBaud), resetState);
    QCOMPARE(loader->watchdogReset(hostBaud), watchdogPrinted);
}

// A chip that applies a block sent again, as some do, answers it as any other.
void TestEsp32Sim::appliesRepeats()
{
    const std::unique_ptr<esp32sim::RomLoader> loader =
        loaderAt({u"--apply-repeats"_s}, Stage::blockWritten);
    QVERIFY(loader);
    const std::optional<esptool::RomReply> reply =
        lastReply(*loader, wire(command::flashData(0, block)));
    QVERIFY(reply && reply->succeeded());
}

void TestEsp32Sim::flipsOnlyAboveTheRate_data()
{
    QTest::addColumn<quint32>("sessionBaud");
    QTest::addColumn<bool>("flipped");
    QTest::newRow("at 460800") << 460800U << false;
    QTest::newRow("at 921600") << 921600U << true;
}

void TestEsp32Sim::flipsOnlyAboveTheRate()
{
    QFETCH(quint32, sessionBaud);
    QFETCH(bool, flipped);
    const std::unique_ptr<esp32sim::RomLoader> loader =
        loaderAt({u"--check-baud"_s, u"--flip-rate"_s, u"0.05"_s, u"--flip-above"_s, u"460800"_s});
    QVERIFY(loader);
    loader->feed(wire(command::sync()) + wire(command::readReg(0x40001000)).repeated(20),
                 sessionBaud);
    QCOMPARE(loader->statistics().bitsFlipped > 0, flipped);
}

// The named fields go over the words --efuse gave.
void TestEsp32Sim::securityEfuses()
{
    const std::unique_ptr<esp32sim::RomLoader> loader =
        loaderAt({u"--efuse"_s, u"0=0x87654321"_s, u"--flash-crypt-cnt"_s, u"3"_s, u"--efuse"_s,
                  u"6=0x3"_s, u"--secure-boot"_s, u"v2"_s, u"--disable-dl-encrypt"_s});
    QVERIFY(loader);
    QCOMPARE(readAfterSync(*loader, 0x3FF5A000), 0x80354321U);
    QCOMPARE(readAfterSync(*loader, 0x3FF5A018), 0xA3U);
}

// The third data block of the run, a compressed one, is answered with a failure although
// written. The chip erases one 64 KiB block and a sector, programs 12 pages, hashes 1 MiB at
// 1 MiB/s and waits 1 ms for a register.
void TestEsp32Sim::writeFigures()
{
    const std::unique_ptr<esp32sim::RomLoader> loader =
        loaderAt({u"--garble-status"_s, u"3"_s, u"--md5-rate"_s, u"1024"_s});
    QVERIFY(loader);
    loader->feed(wire(command::sync()) + wire(command::spiAttach(0)) +
                 wire(command::flashBegin(0x10000, 2, 0x400, 0)));
    const QList<QByteArray> blocks{wire(command::flashData(0, QByteArray(0x400, '\x11'))),
                                   wire(command::flashData(1, QByteArray(0x400, '\x22'))),
                                   wire(command::flashDeflBegin(0x400, 1, 0x400, 0x10000)) +
                                       wire(command::flashDeflData(0, qCompress(block).mid(4)))};
    for (qsizetype i = 0; i < blocks.size(); ++i) {
        const std::optional<esptool::RomReply> reply = lastReply(*loader, blocks.at(i));
        QVERIFY(reply && reply->error == 0);
        QCOMPARE(reply->status, quint8(i == 2));
    }
    QCOMPARE(loader->flash().read(0x10000, 0x400), block);
    loader->feed(wire(command::spiFlashMd5(0, 0x100000)) +
                 wire(command::writeReg(0x3FF00000, 1, 0xFFFFFFFF, 1000)));
    const QJsonObject stats = loader->statistics().toJson();
    QCOMPARE(stats.value(u"eraseSeconds"_s).toDouble(), 0.150 + 0.045);
    QCOMPARE(stats.value(u"programSeconds"_s).toDouble(), 0.0048);
    QCOMPARE(stats.value(u"md5Seconds"_s).toDouble(), 1.0);
    QCOMPARE(stats.value(u"flashSeconds"_s).toDouble(), 0.195 + 0.0048 + 1.0 + 0.001);
}

// The file's bytes 0..255 up to the flash's end, and one load over another.
void TestEsp32Sim::loadedFlash()
{
    const std::unique_ptr<esp32sim::RomLoader> loader =
        loaderAt({u"--flash-size"_s, u"1MB"_s, u"--load"_s, u"0xFFF00="_s + m_image, u"--load"_s,
                  u"0x80="_s + m_image, u"--load"_s, m_image});
    QVERIFY(loader);
    QCOMPARE(loader->flash().read(0xFFFFF, 1), "\xFF"_ba);
    QCOMPARE(loader->flash().read(0xFF, 2), "\xFF\x80"_ba);
}

void TestEsp32Sim::refusedOptions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("error");
    QTest::newRow("unknown option") << QStringList{u"--colour"_s} << u"Unknown option"_s;
    QTest::newRow("an argument") << QStringList{u"4MB"_s} << u"unexpected argument: 4MB"_s;
    QTest::newRow("number out of range")
        << QStringList{u"--fill"_s, u"256"_s} << u"invalid value for --fill: 256"_s;
    QTest::newRow("not hexadecimal")
        << QStringList{u"--jedec-id"_s, u"0x"_s} << u"invalid value for --jedec-id: 0x"_s;
    QTest::newRow("not one of the choices")
        << QStringList{u"--flash-size"_s, u"3MB"_s}
        << u"invalid value for --flash-size: 3MB (1MB, 2MB, 4MB, 8MB or 16MB)"_s;
    QTest::newRow("eFuse word past the block")
        << QStringList{u"--efuse"_s, u"7=0"_s} << u"invalid value for --efuse: 7=0"_s;
    QTest::newRow("flip rate above 0.1")
        << QStringList{u"--flip-rate"_s, u"0.2"_s} << u"invalid value for --flip-rate: 0.2"_s;
    QTest::newRow("restart options without --restart-after")
        << QStringList{u"--restart-times"_s, u"2"_s} << u"need --restart-after"_s;
    QTest::newRow("return without a link")
        << QStringList{u"--drop-after"_s, u"10"_s, u"--return-after"_s, u"0"_s}
        << u"--return-after needs --drop-after and --link"_s;
    QTest::newRow("address not a number")
        << QStringList{u"--load"_s, u"zz="_s + m_image} << u"invalid value for --load"_s;
    QTest::newRow("missing file") << QStringList{u"--load"_s, m_image + u".missing"_s}
                                  << u"cannot read --load"_s;
    QTest::newRow("past the end of the flash")
        << QStringList{u"--load"_s, u"0x3FFFF8="_s + m_image} << u"run past the end of the flash"_s;
}

void TestEsp32Sim::refusedOptions()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, error);
    const esp32sim::ParsedCommandLine parsed = parse(arguments);
    QVERIFY2(!parsed.options && parsed.error.contains(error), qPrintable(parsed.error));
}

// Opening the port is a flasher's reset: a chip that was attached must be attached again. A
// board that restarted into its half-written firmware fails to boot over and over.
void TestEsp32Sim::onThePort()
{
    const QByteArray attach = wire(command::sync()) + wire(command::spiAttach(0));
    const QByteArray begin = wire(command::sync()) + wire(command::flashBegin(0x1000, 1, 0x400, 0));
    constexpr qsizetype replyLength = 14;       // SLIP-framed, without data
    const qsizetype replies = 9 * replyLength;  // to SYNC, 8 of them, and to the other request
    // The restart comes with the first byte after those two.
    const std::optional<esp32sim::SimulatorOptions> options =
        simulatorOptions({u"--restart-into"_s, u"firmware"_s, u"--restart-after"_s,
                          QString::number(attach.size() + begin.size() + 1)});
    QVERIFY(options);
    esp32sim::Esp32Simulator chip(*options);
    QVERIFY(chip.open(nullptr));
    {
        PortClient first(chip.portPath());
        QVERIFY(first.send(attach));
        QTRY_COMPARE(first.received().size(), replies);
    }
    PortClient second(chip.portPath());
    QVERIFY(second.send(begin));
    QTRY_COMPARE(second.received().size(), replies);
    QCOMPARE(parsed(second.received().last(replyLength)).error, quint8(RomError::invalidParameter));

    QVERIFY(second.send(wire(command::sync())));
    const QByteArray printed =
        banner("0x1 (POWERON_RESET)", failing) + banner("0x10 (RTCWDT_RTC_RESET)", failing);
    QTRY_VERIFY(second.received().size() >= replies + printed.size());
    QCOMPARE(second.received().sliced(replies, printed.size()), printed);
}

QTEST_GUILESS_MAIN(TestEsp32Sim)
#include "tst_esp32sim.moc"
