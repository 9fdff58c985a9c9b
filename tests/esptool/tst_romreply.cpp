#include "protocol/RomErrorCode.h"
#include "protocol/RomReply.h"

#include <QTest>

using namespace Qt::StringLiterals;
using esptool::parseReply;
using esptool::ReplyParse;
using Outcome = esptool::ReplyParse::Outcome;

class TestRomReply : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void parse_data();
    void parse();
    void errorCodes_data();
    void errorCodes();
};

void TestRomReply::parse_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<Outcome>("outcome");
    QTest::addColumn<int>("opcode");
    QTest::addColumn<quint32>("value");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("error");

    // The magic register read captured from a real ESP32.
    QTest::newRow("READ_REG magic")
        << "\x01\x0A\x04\x00\x83\x1D\xF0\x00\x00\x00\x00\x00"_ba << Outcome::reply << 0x0A
        << quint32(0x00F01D83) << QByteArray() << 0 << 0;
    // The ROM leaves leftovers in the value field of other replies.
    QTest::newRow("CHANGE_BAUDRATE with leftover value")
        << "\x01\x0F\x04\x00\x33\x07\x00\x00\x00\x00\x00\x00"_ba << Outcome::reply << 0x0F
        << quint32(0x733) << QByteArray() << 0 << 0;
    QTest::newRow("SYNC reply") << "\x01\x08\x04\x00\x07\x07\x12\x20\x00\x00\x00\x00"_ba
                                << Outcome::reply << 0x08 << quint32(0x20120707) << QByteArray()
                                << 0 << 0;
    QTest::newRow("flash write error")
        << "\x01\x11\x04\x00\x00\x00\x00\x00\x01\x08\x00\x00"_ba << Outcome::reply << 0x11
        << quint32(0) << QByteArray() << 1 << 0x08;
    QTest::newRow("payload before status")
        << "\x01\x13\x06\x00\x00\x00\x00\x00\xAB\xCD\x00\x00\x00\x00"_ba << Outcome::reply << 0x13
        << quint32(0) << "\xAB\xCD"_ba << 0 << 0;
    // Stub-style two status bytes are not what the ESP32 ROM sends.
    QTest::newRow("two status bytes only")
        << "\x01\x0A\x02\x00\x00\x00\x00\x00\x00\x00"_ba << Outcome::malformed << 0x0A << quint32(0)
        << QByteArray() << 0 << 0;
    QTest::newRow("size says one more")
        << "\x01\x0A\x05\x00\x00\x00\x00\x00\x00\x00\x00\x00"_ba << Outcome::malformed << 0x0A
        << quint32(0) << QByteArray() << 0 << 0;
    QTest::newRow("size says one less")
        << "\x01\x0A\x03\x00\x00\x00\x00\x00\x00\x00\x00\x00"_ba << Outcome::malformed << 0x0A
        << quint32(0) << QByteArray() << 0 << 0;
    QTest::newRow("request echo") << "\x00\x0A\x04\x00\x00\x00\x00\x00\x00\x10\x00\x40"_ba
                                  << Outcome::notAReply << 0 << quint32(0) << QByteArray() << 0
                                  << 0;
    QTest::newRow("boot text") << "ets Jun  8 2016"_ba << Outcome::notAReply << 0 << quint32(0)
                               << QByteArray() << 0 << 0;
    QTest::newRow("short header") << "\x01\x0A\x04\x00\x00"_ba << Outcome::notAReply << 0
                                  << quint32(0) << QByteArray() << 0 << 0;
    QTest::newRow("empty") << QByteArray() << Outcome::notAReply << 0 << quint32(0) << QByteArray()
                           << 0 << 0;
}

void TestRomReply::parse()
{
    QFETCH(QByteArray, frame);
    QFETCH(Outcome, outcome);
    QFETCH(int, opcode);
    QFETCH(quint32, value);
    QFETCH(QByteArray, payload);
    QFETCH(int, status);
    QFETCH(int, error);
    const ReplyParse parsed = parseReply(frame);
    QCOMPARE(parsed.outcome, outcome);
    if (outcome == Outcome::notAReply)
        return;
    QCOMPARE(int(parsed.reply.opcode), opcode);
    if (outcome == Outcome::malformed)
        return;
    QCOMPARE(parsed.reply.value, value);
    QCOMPARE(parsed.reply.payload, payload);
    QCOMPARE(int(parsed.reply.status), status);
    QCOMPARE(int(parsed.reply.error), error);
    QCOMPARE(parsed.reply.succeeded(), status == 0);
}

void TestRomReply::errorCodes_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("words");
    QTest::addColumn<bool>("hint");
    QTest::addColumn<bool>("refusedUnapplied");  // the same request may simply go again
    QTest::newRow("0x07") << 0x07 << u"checksum"_s << true << true;
    QTest::newRow("0x05") << 0x05 << u"invalid message"_s << true << true;
    QTest::newRow("0x01") << 0x01 << u"invalid parameter"_s << false << false;
    QTest::newRow("0x08") << 0x08 << u"flash write error"_s << true << false;
    QTest::newRow("0x0C") << 0x0C << u"Adler-32"_s << true << false;
    QTest::newRow("0x69") << 0x69 << u"insufficient storage"_s << false << false;
    QTest::newRow("0x68, not listed") << 0x68 << u"unknown error"_s << false << false;
}

void TestRomReply::errorCodes()
{
    QFETCH(int, code);
    QFETCH(QString, words);
    QFETCH(bool, hint);
    QFETCH(bool, refusedUnapplied);
    QVERIFY(esptool::romErrorText(quint8(code)).contains(words));
    QCOMPARE(!esptool::romErrorHint(quint8(code)).isEmpty(), hint);
    QCOMPARE(esptool::romRefusedUnapplied(quint8(code)), refusedUnapplied);
}

QTEST_APPLESS_MAIN(TestRomReply)
#include "tst_romreply.moc"
