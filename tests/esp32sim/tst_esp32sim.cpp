// The simulated ROM loader is strict so that a sloppy flasher fails on it: each malformed or
// out-of-order request is answered with its ROM error code (or not at all). Everything else the
// simulator does is proven by the flasher's runs against it (tests/esptool).

#include "CommandLine.h"
#include "RomLoader.h"
#include "protocol/RomCommand.h"
#include "protocol/RomReply.h"
#include "protocol/Slip.h"

#include <QTest>
#include <QtEndian>

#include <initializer_list>

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

// The error code the loader answers the last of these bytes with: 0 for success, -1 for none.
int answer(esp32sim::RomLoader& loader, const QByteArray& bytes)
{
    const esp32sim::RomLoader::FeedResult fed = loader.feed(bytes);
    if (fed.answers.isEmpty())
        return -1;
    const auto frames = esptool::slip::decode(fed.answers.last().frames.last().bytes).frames;
    const esptool::RomReply reply = esptool::parseReply(frames.first().bytes).reply;
    return reply.succeeded() ? 0 : reply.error;
}

}  // namespace

class TestEsp32Sim : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void strictness_data();
    void strictness();
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
    const esp32sim::ParsedCommandLine parsed =
        esp32sim::parseCommandLine((u"esp32-sim "_s + options).split(u' ', Qt::SkipEmptyParts));
    QVERIFY2(parsed.options, qPrintable(parsed.error));
    esp32sim::RomLoader loader(parsed.options->simulator);
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

QTEST_APPLESS_MAIN(TestEsp32Sim)
#include "tst_esp32sim.moc"
