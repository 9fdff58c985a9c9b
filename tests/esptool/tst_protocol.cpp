#include "protocol/RomCommand.h"
#include "protocol/RomErrorCode.h"
#include "protocol/RomReply.h"
#include "protocol/Slip.h"

#include <QTest>

using namespace Qt::StringLiterals;
using esptool::slip::decode;
using esptool::slip::encode;
using esptool::slip::Frame;
namespace command = esptool::command;
using esptool::parseReply;
using esptool::ReplyParse;
using esptool::RomRequest;
using esptool::rom::Opcode;
using Outcome = esptool::ReplyParse::Outcome;

namespace {

QString summary(const ReplyParse& parsed);

}  // namespace

class TestProtocol : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void encodeEscapes_data();
    void encodeEscapes();
    void decodeSplitsFrames_data();
    void decodeSplitsFrames();
    void decodeKeepsUnfinishedFrame();
    void packets_data();
    void packets();
    void parse_data();
    void parse();
    void errorCodes_data();
    void errorCodes();
};

void TestProtocol::encodeEscapes_data()
{
    QTest::addColumn<QByteArray>("packet");
    QTest::addColumn<QByteArray>("wire");
    QTest::newRow("empty") << QByteArray() << "\xC0\xC0"_ba;
    QTest::newRow("plain") << "\x01\x02"_ba
                           << "\xC0\x01\x02\xC0"_ba;
    QTest::newRow("frame end") << "\xC0"_ba
                               << "\xC0\xDB\xDC\xC0"_ba;
    QTest::newRow("escape") << "\xDB"_ba
                            << "\xC0\xDB\xDD\xC0"_ba;
    QTest::newRow("escaped pair order") << "\xDB\xC0"_ba
                                        << "\xC0\xDB\xDD\xDB\xDC\xC0"_ba;
    QTest::newRow("look-alikes stay") << "\xDC\xDD"_ba
                                      << "\xC0\xDC\xDD\xC0"_ba;
}

void TestProtocol::encodeEscapes()
{
    QFETCH(QByteArray, packet);
    QFETCH(QByteArray, wire);
    QCOMPARE(encode(packet), wire);
}

void TestProtocol::decodeSplitsFrames_data()
{
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<QList<Frame>>("frames");
    QTest::addColumn<qsizetype>("consumed");

    QTest::newRow("escapes undone")
        << "\xC0\xDB\xDC\xDB\xDD\xC0"_ba << QList<Frame>{{"\xC0\xDB"_ba, false}} << qsizetype(6);
    // The ROM closes one frame and opens the next with its own delimiter.
    QTest::newRow("back to back") << "\xC0\x01\xC0\xC0\x02\x03\xC0"_ba
                                  << QList<Frame>{{"\x01"_ba, false}, {"\x02\x03"_ba, false}}
                                  << qsizetype(7);
    QTest::newRow("shared delimiter")
        << "\xC0\x01\xC0\x02\xC0"_ba << QList<Frame>{{"\x01"_ba, false}, {"\x02"_ba, false}}
        << qsizetype(5);
    QTest::newRow("noise before a frame")
        << "boot\r\n\xC0\x05\xC0"_ba << QList<Frame>{{"boot\r\n"_ba, false}, {"\x05"_ba, false}}
        << qsizetype(9);
    QTest::newRow("bad escape kept and flagged")
        << "\xC0\x01\xDB\x41\x02\xC0"_ba << QList<Frame>{{"\x01\xDB\x41\x02"_ba, true}}
        << qsizetype(6);
    QTest::newRow("escape at frame end")
        << "\xC0\x01\xDB\xC0"_ba << QList<Frame>{{"\x01\xDB"_ba, true}} << qsizetype(4);
    QTest::newRow("only delimiters") << "\xC0\xC0\xC0"_ba << QList<Frame>{} << qsizetype(3);
}

void TestProtocol::decodeSplitsFrames()
{
    QFETCH(QByteArray, wire);
    QFETCH(QList<Frame>, frames);
    QFETCH(qsizetype, consumed);
    const esptool::slip::DecodeResult result = decode(wire);
    QCOMPARE(result.frames.size(), frames.size());
    for (qsizetype i = 0; i < frames.size(); ++i) {
        QCOMPARE(result.frames[i].bytes, frames[i].bytes);
        QCOMPARE(result.frames[i].badEscape, frames[i].badEscape);
    }
    QCOMPARE(result.consumed, consumed);
}

void TestProtocol::decodeKeepsUnfinishedFrame()
{
    const QByteArray wire = "\xC0\x01\x02\xC0\xC0\x03\xDB"_ba;
    const esptool::slip::DecodeResult first = decode(wire);
    QCOMPARE(first.frames.size(), 1);
    QCOMPARE(first.consumed, 5);
    // The rest, completed by the next bytes, decodes on its own, escape split included.
    const QByteArray rest = wire.mid(first.consumed) + "\xDC\xC0"_ba;
    const esptool::slip::DecodeResult second = decode(rest);
    QCOMPARE(second.frames.size(), 1);
    QCOMPARE(second.frames[0].bytes, "\x03\xC0"_ba);
    QVERIFY(!second.frames[0].badEscape);
}

// Expected packets are written out by hand from the protocol's table: direction 0, opcode,
// little-endian size and checksum, then the data words.
void TestProtocol::packets_data()
{
    QTest::addColumn<RomRequest>("request");
    QTest::addColumn<int>("opcode");
    QTest::addColumn<QByteArray>("packet");

    QTest::newRow("SYNC") << command::sync() << 0x08
                          << "\x00\x08\x24\x00\x00\x00\x00\x00\x07\x07\x12\x20"_ba +
                                 QByteArray(32, '\x55');
    QTest::newRow("READ_REG magic") << command::readReg(0x40001000) << 0x0A
                                    << "\x00\x0A\x04\x00\x00\x00\x00\x00\x00\x10\x00\x40"_ba;
    QTest::newRow("WRITE_REG SPI_CMD start")
        << command::writeReg(0x3FF42000, 0x00040000) << 0x09
        << "\x00\x09\x10\x00\x00\x00\x00\x00"
           "\x00\x20\xF4\x3F\x00\x00\x04\x00\xFF\xFF\xFF\xFF\x00\x00\x00\x00"_ba;
    QTest::newRow("SPI_ATTACH default pins")
        << command::spiAttach(0) << 0x0D
        << "\x00\x0D\x08\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"_ba;
    QTest::newRow("SPI_SET_PARAMS 4MB") << command::spiSetParams(0x400000) << 0x0B
                                        << "\x00\x0B\x18\x00\x00\x00\x00\x00"
                                           "\x00\x00\x00\x00\x00\x00\x40\x00\x00\x00\x01\x00"
                                           "\x00\x10\x00\x00\x00\x01\x00\x00\xFF\xFF\x00\x00"_ba;
    QTest::newRow("CHANGE_BAUDRATE 446148, ROM form")
        << command::changeBaudrate(446148) << 0x0F
        << "\x00\x0F\x08\x00\x00\x00\x00\x00\xC4\xCE\x06\x00\x00\x00\x00\x00"_ba;
    // The captured FLASH_DEFL_BEGIN for 5000 bytes at 0x1000: exactly four words.
    QTest::newRow("FLASH_DEFL_BEGIN 5000 bytes at 0x1000")
        << command::flashDeflBegin(0x1400, 1, 0x400, 0x1000) << 0x10
        << "\x00\x10\x10\x00\x00\x00\x00\x00"
           "\x00\x14\x00\x00\x01\x00\x00\x00\x00\x04\x00\x00\x00\x10\x00\x00"_ba;
    // The whole-chip erase of 4 MiB as the ROM-only path sends it.
    QTest::newRow("FLASH_BEGIN erase 4MB")
        << command::flashBegin(0x400000, 0x1000, 0x400, 0) << 0x02
        << "\x00\x02\x10\x00\x00\x00\x00\x00"
           "\x00\x00\x40\x00\x00\x10\x00\x00\x00\x04\x00\x00\x00\x00\x00\x00"_ba;
    QTest::newRow("SPI_FLASH_MD5")
        << command::spiFlashMd5(0x10000, 0x2000) << 0x13
        << "\x00\x13\x10\x00\x00\x00\x00\x00"
           "\x00\x00\x01\x00\x00\x20\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"_ba;
    QTest::newRow("FLASH_DATA seq 2")
        << command::flashData(2, "\x01\x02\x03\x04"_ba) << 0x03
        << "\x00\x03\x14\x00\xEB\x00\x00\x00"
           "\x04\x00\x00\x00\x02\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"
           "\x01\x02\x03\x04"_ba;
    QTest::newRow("FLASH_DEFL_DATA seq 0")
        << command::flashDeflData(0, "\x78\xDA"_ba) << 0x11
        << "\x00\x11\x12\x00\x4D\x00\x00\x00"
           "\x02\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"
           "\x78\xDA"_ba;
}

void TestProtocol::packets()
{
    QFETCH(RomRequest, request);
    QFETCH(int, opcode);
    QFETCH(QByteArray, packet);
    QCOMPARE(int(request.opcode), opcode);
    QCOMPARE(request.packet.toHex(' '), packet.toHex(' '));
}

namespace {

// A parse in one line: "reply 0a value 00f01d83 payload abcd status 1 error 08", "malformed 0a"
// or "not a reply".
QString summary(const ReplyParse& parsed)
{
    const esptool::RomReply& reply = parsed.reply;
    switch (parsed.outcome) {
    case Outcome::reply:
        return u"reply %1 value %2 payload %3 status %4 error %5"_s
            .arg(reply.opcode, 2, 16, QLatin1Char('0'))
            .arg(reply.value, 8, 16, QLatin1Char('0'))
            .arg(QString::fromLatin1(reply.payload.toHex()))
            .arg(reply.status)
            .arg(reply.error, 2, 16, QLatin1Char('0'));
    case Outcome::malformed:
        return u"malformed %1"_s.arg(reply.opcode, 2, 16, QLatin1Char('0'));
    case Outcome::notChipReply:
        break;
    }
    return u"not a reply"_s;
}

}  // namespace

void TestProtocol::parse_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QString>("parsed");
    // The magic register read captured from a real ESP32.
    QTest::newRow("READ_REG magic") << "\x01\x0A\x04\x00\x83\x1D\xF0\x00\x00\x00\x00\x00"_ba
                                    << u"reply 0a value 00f01d83 payload  status 0 error 00"_s;
    // The ROM leaves leftovers in the value field of other replies.
    QTest::newRow("CHANGE_BAUDRATE with leftover value")
        << "\x01\x0F\x04\x00\x33\x07\x00\x00\x00\x00\x00\x00"_ba
        << u"reply 0f value 00000733 payload  status 0 error 00"_s;
    QTest::newRow("flash write error") << "\x01\x11\x04\x00\x00\x00\x00\x00\x01\x08\x00\x00"_ba
                                       << u"reply 11 value 00000000 payload  status 1 error 08"_s;
    QTest::newRow("payload before status")
        << "\x01\x13\x06\x00\x00\x00\x00\x00\xAB\xCD\x00\x00\x00\x00"_ba
        << u"reply 13 value 00000000 payload abcd status 0 error 00"_s;
    // Stub-style two status bytes are not what the ESP32 ROM sends.
    QTest::newRow("two status bytes only")
        << "\x01\x0A\x02\x00\x00\x00\x00\x00\x00\x00"_ba << u"malformed 0a"_s;
    QTest::newRow("size says one more")
        << "\x01\x0A\x05\x00\x00\x00\x00\x00\x00\x00\x00\x00"_ba << u"malformed 0a"_s;
    QTest::newRow("size says one less")
        << "\x01\x0A\x03\x00\x00\x00\x00\x00\x00\x00\x00\x00"_ba << u"malformed 0a"_s;
    QTest::newRow("request echo") << "\x00\x0A\x04\x00\x00\x00\x00\x00\x00\x10\x00\x40"_ba
                                  << u"not a reply"_s;
    QTest::newRow("short header") << "\x01\x0A\x04\x00\x00"_ba << u"not a reply"_s;
}

void TestProtocol::parse()
{
    QFETCH(QByteArray, frame);
    QFETCH(QString, parsed);
    QCOMPARE(summary(parseReply(frame)), parsed);
}

void TestProtocol::errorCodes_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("words");
    QTest::addColumn<bool>("hint");
    QTest::addColumn<bool>("refusedUnapplied");  // the same request may simply go again
    QTest::newRow("0x07") << 0x07 << u"checksum"_s << true << true;
    QTest::newRow("0x05") << 0x05 << u"invalid message"_s << true << true;
    QTest::newRow("0x01") << 0x01 << u"invalid parameter"_s << false << false;
    QTest::newRow("0x08") << 0x08 << u"flash write error"_s << true << false;
    QTest::newRow("0x68, not listed") << 0x68 << u"unknown error"_s << false << false;
}

void TestProtocol::errorCodes()
{
    QFETCH(int, code);
    QFETCH(QString, words);
    QFETCH(bool, hint);
    QFETCH(bool, refusedUnapplied);
    QVERIFY(esptool::romErrorText(quint8(code)).contains(words));
    QCOMPARE(!esptool::romErrorHint(quint8(code)).isEmpty(), hint);
    QCOMPARE(esptool::romRefusedUnapplied(quint8(code)), refusedUnapplied);
}

QTEST_APPLESS_MAIN(TestProtocol)
#include "tst_protocol.moc"
