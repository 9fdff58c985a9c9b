#include "FakeSerialLink.h"
#include "RomReplies.h"
#include "link/RomConnection.h"

#include <QElapsedTimer>
#include <QTest>

using namespace Qt::StringLiterals;
using esptool::ErrorKind;
using esptool::RomConnection;

namespace {

// What a command came back with, in one word: "value 12345678", "refused 05", "garbled",
// "timeout", "lost".
QString outcome(const esptool::Result<esptool::RomReply>& reply)
{
    if (reply)
        return u"value %1"_s.arg(reply.value().value, 8, 16, QLatin1Char('0'));
    switch (reply.error().kind) {
    case ErrorKind::romError:
        return u"refused %1"_s.arg(*reply.error().romCode, 2, 16, QLatin1Char('0'));
    case ErrorKind::garbledReply:
        return u"garbled"_s;
    case ErrorKind::timeout:
        return u"timeout"_s;
    default:
        return u"lost"_s;
    }
}

QByteArray syncReply()
{
    return romreplies::frame(0x08, 0x20120707);
}

}  // namespace

class TestRomConnection : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void replies_data();
    void replies();
    void syncKeepsWhatWaitedAndTakesUpTheEchoes();
    void syncIgnoresNoiseAndSilence();
    void repeatableCommandGoesAgain();
    void confirmedReadWaitsForTwoAgreeingAnswers();
    void lostLinkIsReported();
};

void TestRomConnection::replies_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("timeoutMs");
    QTest::addColumn<int>("withinMs");  // garbled and refused answers do not wait out the timeout
    const QByteArray magic = "\xC0\x01\x0A\x04\x00\x83\x1D\xF0\x00\x00\x00\x00\x00\xC0"_ba;

    QTest::newRow("the reply") << magic << u"value 00f01d83"_s << 3000 << 2000;
    QTest::newRow("late SYNC echo and another command's reply skipped")
        << syncReply() + romreplies::frame(0x13) + magic << u"value 00f01d83"_s << 3000 << 2000;
    QTest::newRow("late refusal of an earlier request, then the reply")
        << romreplies::frame(0x11, 0, {}, 1, 0x07) + magic << u"value 00f01d83"_s << 3000 << 2000;
    QTest::newRow("a damaged copy refused as another opcode")
        << romreplies::frame(0x0B, 0, {}, 1, 0x05) << u"refused 05"_s << 3000 << 2000;
    QTest::newRow("own failure") << romreplies::frame(0x0A, 0, {}, 1, 0x07) << u"refused 07"_s
                                 << 3000 << 2000;
    QTest::newRow("size field one too many")
        << "\xC0\x01\x0A\x05\x00\x00\x00\x00\x00\x00\x00\x00\x00\xC0"_ba << u"garbled"_s << 3000
        << 2000;
    QTest::newRow("bad escape") << "\xC0\x01\x0A\x04\x00\xDB\x00\x00\x00\x00\x00\x00\x00\xC0"_ba
                                << u"garbled"_s << 3000 << 2000;
    QTest::newRow("closing delimiter lost") << magic.chopped(1) << u"garbled"_s << 3000 << 2000;
    QTest::newRow("opcode byte hit, then silence")
        << "\xC0\x01\x4A\x05\x00\x00\x00\x00\x00\x00\x00\x00\x00\xC0"_ba << u"garbled"_s << 3000
        << 2000;
    QTest::newRow("silence") << QByteArray() << u"timeout"_s << 200 << 2000;
}

void TestRomConnection::replies()
{
    QFETCH(QByteArray, answer);
    QFETCH(QString, expected);
    QFETCH(int, timeoutMs);
    QFETCH(int, withinMs);
    FakeSerialLink link(true, [answer](const QByteArray&) { return answer; });
    RomConnection rom(link);
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(outcome(rom.command(esptool::command::readReg(0x40001000),
                                 std::chrono::milliseconds(timeoutMs))),
             expected);
    QVERIFY(timer.elapsed() < withinMs);
    QCOMPARE(link.writes().first(), "\xC0\x00\x0A\x04\x00\x00\x00\x00\x00\x00\x10\x00\x40\xC0"_ba);
}

void TestRomConnection::syncKeepsWhatWaitedAndTakesUpTheEchoes()
{
    FakeSerialLink link(true, [](const QByteArray& written) {
        return romreplies::requestOpcode(written) == 0x08 ? romreplies::syncReplies()
                                                          : romreplies::frame(0x0A, 0x1234);
    });
    // What a chip prints after a reset is kept as evidence, not taken for a reply.
    link.deliver("rst:0x1 (POWERON_RESET),boot:0x13 (SPI_FAST_FLASH_BOOT)\r\n"_ba + syncReply());
    RomConnection rom(link);
    rom.startListening();
    const esptool::Result<bool> synced = rom.trySync();
    QVERIFY(synced && synced.value());
    QVERIFY(rom.heard().startsWith("rst:0x1 (POWERON_RESET),boot:0x13"));
    // The seven echoes were taken up, so the next reply is found at once.
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(outcome(rom.command(esptool::command::readReg(0), std::chrono::seconds(3))),
             u"value 00001234"_s);
    QVERIFY(timer.elapsed() < 1000);
}

void TestRomConnection::syncIgnoresNoiseAndSilence()
{
    // A chip running its application prints text, some of it framed by accident.
    FakeSerialLink noisy(true, [](const QByteArray&) {
        return "I (312) wifi: \xC0garbage\xDB\x01\xC0\xC0\x01\x08\x09\x00\xC0"_ba;
    });
    RomConnection rom(noisy);
    rom.startListening();
    const esptool::Result<bool> synced = rom.trySync();
    QVERIFY(synced && !synced.value());
    QVERIFY(rom.bytesHeard() > 20);
    FakeSerialLink silent;
    RomConnection quiet(silent);
    const esptool::Result<bool> none = quiet.trySync();
    QVERIFY(none && !none.value());
}

void TestRomConnection::repeatableCommandGoesAgain()
{
    int asked = 0;
    FakeSerialLink link(true, [&asked](const QByteArray&) {
        return ++asked == 1 ? "\xC0\x01\x0A\x05\x00\xC0"_ba : romreplies::frame(0x0A, 7);
    });
    RomConnection rom(link);
    const esptool::Result<quint32> value = rom.readReg(0x3FF5A004);
    QVERIFY(value);
    QCOMPARE(value.value(), 7u);
    QCOMPARE(link.writes().size(), 2);
}

void TestRomConnection::confirmedReadWaitsForTwoAgreeingAnswers()
{
    // A value damaged on the line once is not taken.
    QList<quint32> answers{0xC4123456, 0xC4123457, 0xC4123457};
    FakeSerialLink link(true, [&answers](const QByteArray&) {
        return romreplies::frame(0x0A, answers.takeFirst());
    });
    RomConnection rom(link);
    const esptool::Result<quint32> value = rom.readRegConfirmed(0x3FF5A004);
    QVERIFY(value);
    QCOMPARE(value.value(), 0xC4123457u);
    QCOMPARE(link.writes().size(), 3);
}

void TestRomConnection::lostLinkIsReported()
{
    FakeSerialLink link;
    link.drop();
    RomConnection rom(link);
    QCOMPARE(outcome(rom.command(esptool::command::readReg(0), std::chrono::seconds(3))),
             u"lost"_s);
    const esptool::Result<bool> synced = rom.trySync();
    QVERIFY(!synced);
    QCOMPARE(synced.error().kind, ErrorKind::linkLost);
    QVERIFY(!rom.drain());
}

QTEST_APPLESS_MAIN(TestRomConnection)
#include "tst_romconnection.moc"
