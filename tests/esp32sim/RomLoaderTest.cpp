#include "RomLoader.h"

#include "RomTestFrames.h"

#include <QRandomGenerator>
#include <QTest>

#include <zlib.h>

using namespace esp32sim;
using namespace romtest;
using namespace std::chrono_literals;

namespace {

constexpr quint8 opFlashBegin = 0x02;
constexpr quint8 opFlashData = 0x03;
constexpr quint8 opFlashEnd = 0x04;
constexpr quint8 opMemBegin = 0x05;
constexpr quint8 opMemEnd = 0x06;
constexpr quint8 opMemData = 0x07;
constexpr quint8 opWriteReg = 0x09;
constexpr quint8 opReadReg = 0x0A;
constexpr quint8 opSetParams = 0x0B;
constexpr quint8 opAttach = 0x0D;
constexpr quint8 opReadFlashSlow = 0x0E;
constexpr quint8 opChangeBaud = 0x0F;
constexpr quint8 opDeflBegin = 0x10;
constexpr quint8 opDeflData = 0x11;
constexpr quint8 opMd5 = 0x13;
constexpr qsizetype block = 0x400;

SimulatorOptions zeroFilled()
{
    SimulatorOptions options;
    options.fill = 0x00;
    return options;
}

void sync(RomLoader& loader)
{
    QCOMPARE(exchange(loader, syncRequest()).size(), 8);
}

void syncAndAttach(RomLoader& loader)
{
    sync(loader);
    const QList<Reply> replies = exchange(loader, request(opAttach, words({0, 0})));
    QCOMPARE(replies.size(), 1);
    QVERIFY(replies.first().ok());
}

Reply single(RomLoader& loader, const QByteArray& bytes)
{
    const QList<Reply> replies = exchange(loader, bytes);
    if (replies.size() != 1)
        return Reply{0xFF, 0xFF, 0, 0, {}, false};
    return replies.first();
}

quint32 readReg(RomLoader& loader, quint32 address)
{
    return single(loader, request(opReadReg, words({address}))).value;
}

bool writeReg(RomLoader& loader, quint32 address, quint32 value)
{
    return single(loader, request(opWriteReg, words({address, value, 0xFFFFFFFF, 0}))).ok();
}

// RDID the way the reference captures a client doing it through the SPI1 registers.
quint32 rdid(RomLoader& loader, quint32 misoBits = 24)
{
    writeReg(loader, 0x3FF4202C, misoBits - 1);
    writeReg(loader, 0x3FF4201C, 0x90000000);
    writeReg(loader, 0x3FF42024, 0x7000009F);
    writeReg(loader, 0x3FF42080, 0);
    writeReg(loader, 0x3FF42000, 1U << 18);
    return readReg(loader, 0x3FF42080);
}

QByteArray zlibCompress(const QByteArray& data)
{
    uLongf length = compressBound(uLong(data.size()));
    QByteArray out(qsizetype(length), Qt::Uninitialized);
    compress2(reinterpret_cast<Bytef*>(out.data()), &length,
              reinterpret_cast<const Bytef*>(data.constData()), uLong(data.size()), 9);
    out.resize(qsizetype(length));
    return out;
}

// Half text, half noise: compresses to roughly half.
QByteArray mixedData(qsizetype size)
{
    QByteArray data;
    QRandomGenerator random(7);
    while (data.size() < size) {
        data.append("The quick brown fox jumps over the lazy dog. 0123456789\n");
        for (int i = 0; i < 14; ++i)
            data.append(char(random.bounded(256)));
    }
    data.resize(size);
    return data;
}

}  // namespace

class RomLoaderTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void syncIsAnsweredEightTimesWithTheSyncValue();
    void nothingButSyncIsHeardBeforeSync();
    void damagedSyncIsIgnored();
    void writeRegAppliesTheMask();
    void rdidNeedsTheFlashAttachedOnItsPins();
    void unsupportedCommands_data();
    void unsupportedCommands();
    void unsupportedCommandRepeats();
    void malformedRequests_data();
    void malformedRequests();
    void badEscapeDropsTheFrame();
    void flashCommandsNeedAttach_data();
    void flashCommandsNeedAttach();
    void flashBeginErasesWholeSectors();
    void flashBeginUsesBlockEraseWhenAligned();
    void flashBeginRejectsBadRanges_data();
    void flashBeginRejectsBadRanges();
    void flashDataChecks_data();
    void flashDataChecks();
    void writingUnerasedFlashFailsReadBack();
    void deflateErrors_data();
    void deflateErrors();
    void setParamsLimitsFlashAccess();
    void flashEndLeavesTheLoaderUntilNextSync();
    void newSyncStartsAFreshSession();
    void readFlashSlow();
    void memUploadAndJump();
    void writeErrorBlockFault_data();
    void writeErrorBlockFault();
    void statisticsCountWireTime();
    void lineBaudCheck();
};

void RomLoaderTest::syncIsAnsweredEightTimesWithTheSyncValue()
{
    RomLoader loader{SimulatorOptions{}};
    // SYNC worked out by hand: header 00 08 2400 00000000, then 07 07 12 20 and 32 x 55.
    const QByteArray syncFrame =
        QByteArray::fromHex("c0 00 08 2400 00000000 07071220") + QByteArray(32, '\x55') + "\xC0";
    QCOMPARE(syncFrame, syncRequest());
    const RomLoader::FeedResult result = loader.feed(syncFrame);
    QCOMPARE(result.answers.size(), 1);
    const QByteArray oneReply = QByteArray::fromHex("c0010804000707122000000000c0");
    QCOMPARE(wireOf(result), oneReply.repeated(8));
    QCOMPARE(loader.state(), LoaderState::synced);
}

void RomLoaderTest::nothingButSyncIsHeardBeforeSync()
{
    RomLoader loader{SimulatorOptions{}};
    QVERIFY(exchange(loader, request(opReadReg, words({0x40001000}))).isEmpty());
    QVERIFY(exchange(loader, request(0x14, {})).isEmpty());
    QCOMPARE(loader.state(), LoaderState::awaitingSync);
    sync(loader);
    QCOMPARE(readReg(loader, 0x40001000), 0x00F01D83U);
}

void RomLoaderTest::damagedSyncIsIgnored()
{
    RomLoader loader{SimulatorOptions{}};
    QByteArray data("\x07\x07\x12\x20", 4);
    data.append(31, '\x55');
    data.append('\x54');
    QVERIFY(exchange(loader, request(0x08, data)).isEmpty());
    QVERIFY(exchange(loader, request(0x08, data.left(20))).isEmpty());
    QCOMPARE(loader.state(), LoaderState::awaitingSync);
}

void RomLoaderTest::writeRegAppliesTheMask()
{
    RomLoader loader{SimulatorOptions{}};
    sync(loader);
    constexpr quint32 ram = 0x3FFE0000;
    QVERIFY(single(loader, request(opWriteReg, words({ram, 0x12345678, 0xFFFFFFFF, 0}))).ok());
    QVERIFY(single(loader, request(opWriteReg, words({ram, 0xAAAAAAAA, 0x0000FF00, 0}))).ok());
    QCOMPARE(readReg(loader, ram), 0x1234AA78U);
    // Two groups in one command, the second with a delay the loader spends.
    const RomLoader::FeedResult result = loader.feed(
        request(opWriteReg, words({ram, 1, 0xFFFFFFFF, 0, ram + 4, 2, 0xFFFFFFFF, 250})));
    QCOMPARE(result.answers.size(), 1);
    QCOMPARE(result.answers.first().workTime, Duration(250us));
    QCOMPARE(readReg(loader, ram), 1U);
    QCOMPARE(readReg(loader, ram + 4), 2U);
    // The magic register is ROM.
    writeReg(loader, 0x40001000, 0);
    QCOMPARE(readReg(loader, 0x40001000), 0x00F01D83U);
    // Not a multiple of 16 bytes.
    const Reply bad = single(loader, request(opWriteReg, words({ram, 1, 0xFFFFFFFF})));
    QCOMPARE(bad.status(), quint8(1));
    QCOMPARE(bad.error(), quint8(0x05));
}

void RomLoaderTest::rdidNeedsTheFlashAttachedOnItsPins()
{
    RomLoader loader{SimulatorOptions{}};
    sync(loader);
    QCOMPARE(rdid(loader), 0xFFFFFFU);  // not attached yet: nothing drives MISO
    QVERIFY(single(loader, request(opAttach, words({1, 0}))).ok());  // HSPI: wrong pins
    QCOMPARE(rdid(loader), 0xFFFFFFU);
    QVERIFY(single(loader, request(opAttach, words({0, 0}))).ok());
    QCOMPARE(rdid(loader), 0x001640EFU);

    // Pads burnt into eFuse: the client must pass them packed as HD<<24|CS<<18|D<<12|Q<<6|CLK.
    SimulatorOptions custom;
    custom.efuseWords[5] = 6 | (17U << 5) | (8U << 10) | (16U << 15);  // CLK 6, Q 17, D 8, CS 16
    custom.efuseWords[3] = 0x0000A200 | (11U << 4);                    // HD 11
    RomLoader padded{custom};
    sync(padded);
    QVERIFY(single(padded, request(opAttach, words({0, 0}))).ok());
    QCOMPARE(rdid(padded), 0xFFFFFFU);
    const quint32 packed = (11U << 24) | (16U << 18) | (8U << 12) | (17U << 6) | 6U;
    QVERIFY(single(padded, request(opAttach, words({packed, 0}))).ok());
    QCOMPARE(rdid(padded), 0x001640EFU);
    QCOMPARE(padded.spiAttachConfig().value_or(0), packed);
}

void RomLoaderTest::unsupportedCommands_data()
{
    QTest::addColumn<quint8>("opcode");
    QTest::addColumn<QByteArray>("data");
    QTest::newRow("GET_SECURITY_INFO") << quint8(0x14) << QByteArray();
    QTest::newRow("ERASE_FLASH") << quint8(0xD0) << QByteArray();
    QTest::newRow("ERASE_REGION") << quint8(0xD1) << words({0, 0x1000});
    QTest::newRow("READ_FLASH") << quint8(0xD2) << words({0, 0x1000, 0x1000, 64});
    QTest::newRow("RUN_USER_CODE") << quint8(0xD3) << QByteArray();
    QTest::newRow("unassigned 0x0C") << quint8(0x0C) << QByteArray();
    QTest::newRow("unassigned 0x01") << quint8(0x01) << words({0});
}

void RomLoaderTest::unsupportedCommands()
{
    QFETCH(quint8, opcode);
    QFETCH(QByteArray, data);
    RomLoader loader{SimulatorOptions{}};
    syncAndAttach(loader);
    const QByteArray wire = wireOf(loader.feed(request(opcode, data)));
    // status 01, error 05, two zero bytes: 14 bytes on the wire.
    QByteArray expected = QByteArray::fromHex("c00100040000000000010500"
                                              "00c0");
    expected[2] = char(opcode);
    QCOMPARE(wire, expected);
}

void RomLoaderTest::unsupportedCommandRepeats()
{
    SimulatorOptions options;
    options.unsupportedRepeats = 8;
    RomLoader loader{options};
    sync(loader);
    const QList<Reply> replies = exchange(loader, request(0x14, {}));
    QCOMPARE(replies.size(), 8);
    for (const Reply& r : replies) {
        QCOMPARE(r.opcode, quint8(0x14));
        QCOMPARE(r.error(), quint8(0x05));
    }
    // A supported command is still answered once.
    QCOMPARE(exchange(loader, request(opReadReg, words({0x40001000}))).size(), 1);
}

void RomLoaderTest::malformedRequests_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<quint8>("opcode");
    QTest::addColumn<quint8>("error");

    QByteArray sizeTooBig = packet(opReadReg, words({0x40001000}));
    sizeTooBig[2] = 5;
    QTest::newRow("size field too big") << slip(sizeTooBig) << opReadReg << quint8(0x05);
    QByteArray sizeTooSmall = packet(opReadReg, words({0x40001000}));
    sizeTooSmall[2] = 3;
    QTest::newRow("size field too small") << slip(sizeTooSmall) << opReadReg << quint8(0x05);
    QTest::newRow("header cut short")
        << slip(QByteArray::fromHex("000a0400")) << opReadReg << quint8(0x05);
    QTest::newRow("READ_REG with 8 bytes")
        << request(opReadReg, words({0x40001000, 0})) << opReadReg << quint8(0x05);
    QTest::newRow("SPI_ATTACH with 4 bytes")
        << request(opAttach, words({0})) << opAttach << quint8(0x05);
    QTest::newRow("SPI_ATTACH legacy flag set")
        << request(opAttach, words({0, 1})) << opAttach << quint8(0x01);
    QTest::newRow("CHANGE_BAUDRATE to 0")
        << request(opChangeBaud, words({0, 0})) << opChangeBaud << quint8(0x01);
    QTest::newRow("SPI_SET_PARAMS with 5 words")
        << request(opSetParams, words({0, 0x400000, 0x10000, 0x1000, 0x100})) << opSetParams
        << quint8(0x05);
    QTest::newRow("SPI_SET_PARAMS odd sector size")
        << request(opSetParams, words({0, 0x400000, 0x10000, 0x800, 0x100, 0xFFFF})) << opSetParams
        << quint8(0x01);
    QTest::newRow("MD5 with 3 words") << request(opMd5, words({0, 16, 0})) << opMd5 << quint8(0x05);
    QByteArray oversized(0x2000, 'x');
    QTest::newRow("longer than the receive buffer")
        << request(opMemData, words({0x2000, 0, 0, 0}) + oversized, checksum(oversized))
        << opMemData << quint8(0x05);
}

void RomLoaderTest::malformedRequests()
{
    QFETCH(QByteArray, bytes);
    QFETCH(quint8, opcode);
    QFETCH(quint8, error);
    RomLoader loader{SimulatorOptions{}};
    syncAndAttach(loader);
    const Reply reply = single(loader, bytes);
    QCOMPARE(reply.opcode, opcode);
    QCOMPARE(reply.status(), quint8(1));
    QCOMPARE(reply.error(), error);
    QVERIFY(reply.sizeFieldMatches);
    // The loader is still in step: the next request gets its own answer.
    QCOMPARE(single(loader, request(opReadReg, words({0x40001000}))).value, 0x00F01D83U);
}

void RomLoaderTest::badEscapeDropsTheFrame()
{
    RomLoader loader{SimulatorOptions{}};
    sync(loader);
    // DB followed by 01 is no escape: the frame is dropped without an answer.
    const QByteArray broken = QByteArray::fromHex("c0000a040000000000"
                                                  "db01"
                                                  "1000"
                                                  "40c0");
    QVERIFY(exchange(loader, broken).isEmpty());
    QCOMPARE(loader.statistics().framingErrors, 1);
    // Stray bytes between frames are skipped, and back-to-back frames are both served.
    const QByteArray two = "garbage" + request(opReadReg, words({0x40001000})) +
                           request(opReadReg, words({0x3FF5A004}));
    const QList<Reply> replies = exchange(loader, two);
    QCOMPARE(replies.size(), 2);
    QCOMPARE(replies.at(0).value, 0x00F01D83U);
    QCOMPARE(replies.at(1).value, 0xC4123456U);
}

void RomLoaderTest::flashCommandsNeedAttach_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("FLASH_BEGIN") << request(opFlashBegin, words({0x400, 1, 0x400, 0}));
    QTest::newRow("FLASH_DEFL_BEGIN") << request(opDeflBegin, words({0x400, 1, 0x400, 0}));
    QTest::newRow("SPI_FLASH_MD5") << request(opMd5, words({0, 0x400, 0, 0}));
    QTest::newRow("SPI_SET_PARAMS")
        << request(opSetParams, words({0, 0x400000, 0x10000, 0x1000, 0x100, 0xFFFF}));
}

void RomLoaderTest::flashCommandsNeedAttach()
{
    QFETCH(QByteArray, bytes);
    RomLoader loader{SimulatorOptions{}};
    sync(loader);
    const Reply reply = single(loader, bytes);
    QCOMPARE(reply.status(), quint8(1));
    QCOMPARE(reply.error(), quint8(0x01));
}

void RomLoaderTest::flashBeginErasesWholeSectors()
{
    RomLoader loader{zeroFilled()};
    syncAndAttach(loader);
    // 5000 bytes at 0x1000: two 4 KiB sectors, 0x1000..0x2FFF.
    const RomLoader::FeedResult result =
        loader.feed(request(opFlashBegin, words({5000, 5, 0x400, 0x1000})));
    QCOMPARE(parseReplies(wireOf(result)).size(), 1);
    QVERIFY(parseReplies(wireOf(result)).first().ok());
    QCOMPARE(result.answers.first().workTime, Duration(2 * 45ms));
    const QByteArray& flash = loader.flash().contents();
    QCOMPARE(flash.mid(0x1000, 0x2000), QByteArray(0x2000, '\xFF'));
    QCOMPARE(flash.mid(0, 0x1000), QByteArray(0x1000, '\0'));
    QCOMPARE(flash.mid(0x3000, 0x1000), QByteArray(0x1000, '\0'));
}

void RomLoaderTest::flashBeginUsesBlockEraseWhenAligned()
{
    RomLoader loader{zeroFilled()};
    syncAndAttach(loader);
    // 0xF000..0x21000: one sector, one 64 KiB block, one sector.
    const RomLoader::FeedResult result =
        loader.feed(request(opFlashBegin, words({0x12000, 0x48, 0x400, 0xF000})));
    QCOMPARE(result.answers.first().workTime, Duration(45ms + 150ms + 45ms));
    QCOMPARE(loader.flash().contents().mid(0xF000, 0x12000), QByteArray(0x12000, '\xFF'));
    QCOMPARE(loader.flash().contents().at(0x21000), '\0');
}

void RomLoaderTest::flashBeginRejectsBadRanges_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::newRow("offset not sector aligned") << words({0x400, 1, 0x400, 0x1400});
    QTest::newRow("past the end of 4MB") << words({0x2000, 8, 0x400, 0x3FF000});
    QTest::newRow("stub block size") << words({0x4000, 1, 0x4000, 0});
    QTest::newRow("zero block size") << words({0x400, 1, 0, 0});
}

void RomLoaderTest::flashBeginRejectsBadRanges()
{
    QFETCH(QByteArray, data);
    RomLoader loader{zeroFilled()};
    syncAndAttach(loader);
    for (const quint8 opcode : {opFlashBegin, opDeflBegin}) {
        const Reply reply = single(loader, request(opcode, data));
        QCOMPARE(reply.status(), quint8(1));
        QCOMPARE(reply.error(), quint8(0x01));
    }
    QCOMPARE(loader.flash().contents().count('\xFF'), 0);
    // And a fifth ("encrypted") word is tolerated.
    QVERIFY(single(loader, request(opFlashBegin, words({0x400, 1, 0x400, 0, 0}))).ok());
}

void RomLoaderTest::flashDataChecks_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<quint8>("error");
    const QByteArray block(0x400, '\x5A');
    QByteArray header = words({0x400, 0, 0, 0});

    QTest::newRow("bad checksum") << request(opFlashData, header + block, checksum(block) ^ 1)
                                  << quint8(0x07);
    QTest::newRow("checksum upper bytes set")
        << request(opFlashData, header + block, checksum(block) | 0x100) << quint8(0x07);
    QTest::newRow("wrong sequence number") << dataRequest(opFlashData, 1, block) << quint8(0x01);
    QTest::newRow("short block not padded")
        << dataRequest(opFlashData, 0, block.left(0x200)) << quint8(0x05);
    QTest::newRow("length field disagrees")
        << request(opFlashData, words({0x3FF, 0, 0, 0}) + block, checksum(block)) << quint8(0x05);
    QTest::newRow("reserved words not zero")
        << request(opFlashData, words({0x400, 0, 1, 0}) + block, checksum(block)) << quint8(0x05);
    QTest::newRow("compressed data in a plain session")
        << dataRequest(opDeflData, 0, zlibCompress(block)) << quint8(0x01);
}

void RomLoaderTest::flashDataChecks()
{
    QFETCH(QByteArray, bytes);
    QFETCH(quint8, error);
    RomLoader loader{zeroFilled()};
    syncAndAttach(loader);
    QVERIFY(single(loader, request(opFlashBegin, words({0x800, 2, 0x400, 0}))).ok());
    const Reply reply = single(loader, bytes);
    QCOMPARE(reply.status(), quint8(1));
    QCOMPARE(reply.error(), error);
    QCOMPARE(loader.flash().contents().left(0x800), QByteArray(0x800, '\xFF'));
    // The session still expects block 0.
    QVERIFY(single(loader, dataRequest(opFlashData, 0, QByteArray(0x400, '\x11'))).ok());
    QCOMPARE(loader.flash().contents().left(0x400), QByteArray(0x400, '\x11'));
}

void RomLoaderTest::writingUnerasedFlashFailsReadBack()
{
    SimulatorOptions options;
    options.fill = 0x0F;
    RomLoader loader{options};
    syncAndAttach(loader);
    // Erase nothing but announce a block: NOR programming can only clear bits.
    QVERIFY(single(loader, request(opFlashBegin, words({0, 1, 0x400, 0}))).ok());
    const Reply reply = single(loader, dataRequest(opFlashData, 0, QByteArray(0x400, '\xF0')));
    QCOMPARE(reply.status(), quint8(1));
    QCOMPARE(reply.error(), quint8(0x08));
    QCOMPARE(loader.flash().contents().left(0x400), QByteArray(0x400, '\0'));
}

void RomLoaderTest::deflateErrors_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<quint8>("error");
    const QByteArray image = mixedData(900);
    const QByteArray good = zlibCompress(image);

    QByteArray badHeader = good;
    badHeader[1] = char(badHeader[1] ^ 1);
    QTest::newRow("bad zlib header") << badHeader << quint8(0x0B);
    QByteArray rawDeflate = good.mid(2);
    QTest::newRow("raw deflate without header") << rawDeflate << quint8(0x0B);
    QByteArray badBody = good;
    badBody[2] = char(badBody[2] | 0x06);  // block type 3 is reserved
    QTest::newRow("damaged body") << badBody << quint8(0x0B);
    QByteArray badAdler = good;
    badAdler[badAdler.size() - 1] = char(badAdler.back() ^ 0x55);
    QTest::newRow("adler-32 mismatch") << badAdler << quint8(0x0C);
    QTest::newRow("data after the stream") << good + "xx" << quint8(0x0B);
}

void RomLoaderTest::deflateErrors()
{
    QFETCH(QByteArray, stream);
    QFETCH(quint8, error);
    RomLoader loader{zeroFilled()};
    syncAndAttach(loader);
    QVERIFY(single(loader, request(opDeflBegin, words({0x400, 1, 0x400, 0}))).ok());
    const Reply reply = single(loader, dataRequest(opDeflData, 0, stream));
    QCOMPARE(reply.status(), quint8(1));
    QCOMPARE(reply.error(), error);
}

void RomLoaderTest::setParamsLimitsFlashAccess()
{
    RomLoader loader{SimulatorOptions{}};
    syncAndAttach(loader);
    QVERIFY(
        single(loader, request(opSetParams, words({0, 0x200000, 0x10000, 0x1000, 0x100, 0xFFFF})))
            .ok());
    QCOMPARE(loader.spiParameters()->totalSize, 0x200000U);
    QCOMPARE(loader.statistics().lastSpiFlashSize.value_or(0), 0x200000U);
    QCOMPARE(loader.statistics().lastSpiAttach.value_or(1), 0U);
    QCOMPARE(single(loader, request(opFlashBegin, words({0x1000, 4, 0x400, 0x200000}))).error(),
             quint8(0x01));
    QCOMPARE(single(loader, request(opMd5, words({0x1FF000, 0x2000, 0, 0}))).error(), quint8(0x01));
    // Telling it 16 MB does not grow a 4 MB chip.
    QVERIFY(
        single(loader, request(opSetParams, words({0, 0x1000000, 0x10000, 0x1000, 0x100, 0xFFFF})))
            .ok());
    QCOMPARE(single(loader, request(opFlashBegin, words({0x1000, 4, 0x400, 0x400000}))).error(),
             quint8(0x01));
    QVERIFY(single(loader, request(opFlashBegin, words({0x1000, 4, 0x400, 0x3FF000}))).ok());
}

void RomLoaderTest::flashEndLeavesTheLoaderUntilNextSync()
{
    RomLoader loader{zeroFilled()};
    syncAndAttach(loader);
    QCOMPARE(single(loader, request(opFlashEnd, words({1}))).error(), quint8(0x01));  // no BEGIN
    QVERIFY(single(loader, request(opFlashBegin, words({0x400, 1, 0x400, 0}))).ok());
    QVERIFY(single(loader, dataRequest(opFlashData, 0, QByteArray(0x400, '\x42'))).ok());
    QCOMPARE(single(loader, request(opFlashEnd, words({0, 0}))).error(), quint8(0x05));
    QVERIFY(single(loader, request(opFlashEnd, words({0}))).ok());
    QCOMPARE(loader.state(), LoaderState::applicationRunning);
    QVERIFY(exchange(loader, request(opReadReg, words({0x40001000}))).isEmpty());
    sync(loader);
    QCOMPARE(loader.state(), LoaderState::synced);
    QCOMPARE(loader.flash().contents().left(0x400), QByteArray(0x400, '\x42'));

    // The compressed session ends the same way.
    QVERIFY(single(loader, request(opAttach, words({0, 0}))).ok());
    QVERIFY(single(loader, request(opDeflBegin, words({0, 0, 0x400, 0}))).ok());
    QCOMPARE(single(loader, request(opFlashEnd, words({1}))).error(), quint8(0x01));
    QVERIFY(single(loader, request(0x12, words({1}))).ok());
    QCOMPARE(loader.state(), LoaderState::applicationRunning);
}

void RomLoaderTest::newSyncStartsAFreshSession()
{
    RomLoader loader{zeroFilled()};
    syncAndAttach(loader);
    QVERIFY(single(loader, request(opChangeBaud, words({460800, 0}))).ok());
    QVERIFY(single(loader, request(opFlashBegin, words({0x800, 2, 0x400, 0}))).ok());
    QVERIFY(single(loader, dataRequest(opFlashData, 0, QByteArray(0x400, '\x33'))).ok());
    QCOMPARE(loader.baud(), 460800U);
    // The SYNC counts at the new session's 115200, not at the rate the old one ended with.
    const Duration before = loader.statistics().wireReceived;
    const RomLoader::FeedResult synced = loader.feed(syncRequest());
    QCOMPARE(parseReplies(wireOf(synced)).size(), 8);
    QCOMPARE(synced.answers.first().requestWireTime, wireTime(syncRequest().size(), 115200));
    QCOMPARE(loader.statistics().wireReceived - before, wireTime(syncRequest().size(), 115200));
    QCOMPARE(loader.baud(), 115200U);
    QVERIFY(!loader.spiAttachConfig());
    QCOMPARE(loader.statistics().sessions, 2);
    // The old flash session is gone, and flash needs a new attach.
    QCOMPARE(single(loader, dataRequest(opFlashData, 1, QByteArray(0x400, '\x33'))).error(),
             quint8(0x01));
    QCOMPARE(single(loader, request(opMd5, words({0, 0x400, 0, 0}))).error(), quint8(0x01));
    QCOMPARE(loader.flash().contents().left(0x400), QByteArray(0x400, '\x33'));
}

void RomLoaderTest::readFlashSlow()
{
    RomLoader loader{SimulatorOptions{}};
    syncAndAttach(loader);
    const Reply reply = single(loader, request(opReadFlashSlow, words({0x100, 16})));
    QVERIFY(reply.ok());
    QCOMPARE(reply.payload().size(), 64);
    QCOMPARE(reply.payload().left(16), loader.flash().contents().mid(0x100, 16));
    QCOMPARE(single(loader, request(opReadFlashSlow, words({0, 65}))).error(), quint8(0x0A));
}

void RomLoaderTest::memUploadAndJump()
{
    RomLoader loader{SimulatorOptions{}};
    sync(loader);
    const QByteArray code(0x1800, '\x90');
    QVERIFY(single(loader, request(opMemBegin, words({0x1800, 1, 0x1800, 0x40080000}))).ok());
    QCOMPARE(single(loader, dataRequest(opMemData, 1, code)).error(), quint8(0x01));
    QVERIFY(single(loader, dataRequest(opMemData, 0, code)).ok());
    // Jumping to the code: no answer, and the ROM is gone.
    QVERIFY(exchange(loader, request(opMemEnd, words({0, 0x40080000}))).isEmpty());
    QCOMPARE(loader.state(), LoaderState::applicationRunning);
}

void RomLoaderTest::writeErrorBlockFault_data()
{
    QTest::addColumn<bool>("compressed");
    QTest::addColumn<int>("times");
    QTest::newRow("plain, always") << false << 0;
    QTest::newRow("plain, once") << false << 1;
    QTest::newRow("compressed, always") << true << 0;
    QTest::newRow("compressed, twice") << true << 2;
}

void RomLoaderTest::writeErrorBlockFault()
{
    QFETCH(bool, compressed);
    QFETCH(int, times);
    SimulatorOptions options = zeroFilled();
    options.faults.writeErrorBlock = 1;
    if (times > 0)
        options.faults.writeErrorTimes = times;
    RomLoader loader{options};
    syncAndAttach(loader);

    const QByteArray image = mixedData(8 * block);
    const QByteArray stream = compressed ? zlibCompress(image) : image;
    const auto blocks = quint32((stream.size() + 0x3FF) / 0x400);
    QVERIFY(blocks >= 2);
    const quint8 begin = compressed ? opDeflBegin : opFlashBegin;
    const quint8 data = compressed ? opDeflData : opFlashData;
    QVERIFY(single(loader, request(begin, words({quint32(image.size()), blocks, 0x400, 0}))).ok());
    QVERIFY(single(loader, dataRequest(data, 0, stream.mid(0, 0x400))).ok());
    const QByteArray second = dataRequest(data, 1, stream.mid(0x400, 0x400));
    const int failures = times > 0 ? times : 3;  // a client gives up after 3 tries
    for (int i = 0; i < failures; ++i) {
        const Reply reply = single(loader, second);
        QCOMPARE(reply.status(), quint8(1));
        QCOMPARE(reply.error(), quint8(0x08));
    }
    if (times == 0)
        return;
    QVERIFY(single(loader, second).ok());
    for (quint32 seq = 2; seq < blocks; ++seq)
        QVERIFY(single(loader, dataRequest(data, seq, stream.mid(seq * block, block))).ok());
    QCOMPARE(loader.flash().contents().left(image.size()), image);
}

void RomLoaderTest::statisticsCountWireTime()
{
    RomLoader loader{SimulatorOptions{}};
    const QByteArray syncBytes = syncRequest();
    const RomLoader::FeedResult result = loader.feed(syncBytes);
    QCOMPARE(result.answers.first().requestWireTime,
             Duration(syncBytes.size() * 10 * 1'000'000'000LL / 115200));
    const SimulatorStatistics& stats = loader.statistics();
    QCOMPARE(stats.bytesReceived, syncBytes.size());
    QCOMPARE(stats.bytesSent, 8 * 14);
    QCOMPARE(stats.wireSent, 8 * Duration(140'000'000'000LL / 115200));
    QCOMPARE(stats.finalBaud, 115200U);
    QCOMPARE(stats.commands.value(0x08), 1);
}

void RomLoaderTest::lineBaudCheck()
{
    RomLoader loader{SimulatorOptions{}};
    const QByteArray readMagic = request(opReadReg, words({0x40001000}));
    // The autobaud locks onto the SYNC's rate.
    QCOMPARE(parseReplies(wireOf(loader.feed(syncRequest(), 230400))).size(), 8);
    QCOMPARE(loader.baud(), 230400U);
    QCOMPARE(readReg(loader, 0x3FF40014) & 0xFFFFF, 40'000'000U / 230400);
    QVERIFY(loader.feed(readMagic, 115200).answers.isEmpty());
    QCOMPARE(loader.statistics().baudMismatches, 1);

    const QList<Reply> changed =
        parseReplies(wireOf(loader.feed(request(opChangeBaud, words({921600, 0})), 230400)));
    QCOMPARE(changed.size(), 1);
    QVERIFY(changed.first().ok());
    // A client that does not switch its port is not heard any more.
    QVERIFY(loader.feed(readMagic, 230400).answers.isEmpty());
    const QList<Reply> heard = parseReplies(wireOf(loader.feed(readMagic, 921600)));
    QCOMPARE(heard.size(), 1);
    QCOMPARE(heard.first().value, 0x00F01D83U);
    QCOMPARE(loader.statistics().baudMismatches, 2);
}

QTEST_GUILESS_MAIN(RomLoaderTest)
#include "RomLoaderTest.moc"
