#include "FakeSerialLink.h"
#include "RomReplies.h"
#include "link/RomConnection.h"

#include <QElapsedTimer>
#include <QTest>

using namespace Qt::StringLiterals;
using esptool::ErrorKind;
using esptool::RomConnection;
using Kind = FakeSerialLink::Event::Kind;

class TestRomConnection : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void sendsTheFramedRequestAndReturnsTheValue();
    void skipsFramesOfOtherCommands();
    void failingStatusNamesTheAction();
    void garbledReplyFailsAtOnce_data();
    void garbledReplyFailsAtOnce();
    void silenceTimesOutNamingTheCommand();
    void unreadableFramesThenSilenceSayGarbled();
    void lostLinkIsReported();
    void syncFlushesThenCollectsTheEchoes();
    void syncWithoutAnswerIsNoErrorButFalse();
    void syncIgnoresNoise();
};

void TestRomConnection::sendsTheFramedRequestAndReturnsTheValue()
{
    FakeSerialLink link;
    link.setResponder([](const QByteArray&) {
        return "\xC0\x01\x0A\x04\x00\x83\x1D\xF0\x00\x00\x00\x00\x00\xC0"_ba;
    });
    RomConnection rom(link);
    const esptool::Result<quint32> value = rom.readReg(0x40001000);
    QVERIFY(value);
    QCOMPARE(value.value(), 0x00F01D83u);
    const QList<FakeSerialLink::Event> writes = link.events(Kind::write);
    QCOMPARE(writes.size(), 1);
    QCOMPARE(writes[0].bytes, "\xC0\x00\x0A\x04\x00\x00\x00\x00\x00\x00\x10\x00\x40\xC0"_ba);
}

void TestRomConnection::skipsFramesOfOtherCommands()
{
    FakeSerialLink link;
    link.setResponder([](const QByteArray&) {
        // A late SYNC echo and an "unsupported command" frame for something else come first.
        return romreplies::frame(0x08, 0x20120707) + romreplies::frame(0x14, 0, {}, 1, 0x05) +
               romreplies::frame(0x0A, 0x12345678);
    });
    RomConnection rom(link);
    const esptool::Result<quint32> value = rom.readReg(0x3FF5A004);
    QVERIFY(value);
    QCOMPARE(value.value(), 0x12345678u);
}

void TestRomConnection::failingStatusNamesTheAction()
{
    FakeSerialLink link;
    link.setResponder([](const QByteArray&) { return romreplies::frame(0x11, 0, {}, 1, 0x08); });
    RomConnection rom(link);
    const auto reply = rom.command(esptool::command::flashDeflData(5, "abc"_ba),
                                   std::chrono::seconds(3), u"write block 6 of 9"_s);
    QVERIFY(!reply);
    QCOMPARE(reply.error().kind, ErrorKind::romError);
    QVERIFY2(reply.error().message.contains(u"write block 6 of 9"_s),
             qPrintable(reply.error().message));
    QVERIFY(reply.error().message.contains(u"0x08"_s));
    QVERIFY(!reply.error().hint.isEmpty());
}

void TestRomConnection::garbledReplyFailsAtOnce_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("size one too many")
        << "\xC0\x01\x0A\x05\x00\x00\x00\x00\x00\x00\x00\x00\x00\xC0"_ba;
    QTest::newRow("bad escape") << "\xC0\x01\x0A\x04\x00\xDB\x00\x00\x00\x00\x00\x00\x00\xC0"_ba;
}

void TestRomConnection::garbledReplyFailsAtOnce()
{
    QFETCH(QByteArray, reply);
    FakeSerialLink link;
    link.setResponder([reply](const QByteArray&) { return reply; });
    RomConnection rom(link);
    QElapsedTimer timer;
    timer.start();
    const auto value = rom.readReg(0x40001000);
    QVERIFY(!value);
    QCOMPARE(value.error().kind, ErrorKind::garbledReply);
    QVERIFY(value.error().message.contains(u"READ_REG"_s));
    // It does not wait out the 3 s timeout first.
    QVERIFY(timer.elapsed() < 2500);
}

void TestRomConnection::silenceTimesOutNamingTheCommand()
{
    FakeSerialLink link;
    RomConnection rom(link);
    QElapsedTimer timer;
    timer.start();
    const auto reply =
        rom.command(esptool::command::spiFlashMd5(0, 0x1000), std::chrono::milliseconds(300));
    QVERIFY(timer.elapsed() >= 300);
    QVERIFY(!reply);
    QCOMPARE(reply.error().kind, ErrorKind::timeout);
    QVERIFY(reply.error().message.contains(u"SPI_FLASH_MD5"_s));
}

void TestRomConnection::unreadableFramesThenSilenceSayGarbled()
{
    FakeSerialLink link;
    // A frame whose opcode byte itself was hit cannot be told apart from another command's.
    link.setResponder([](const QByteArray&) {
        return "\xC0\x01\x4A\x05\x00\x00\x00\x00\x00\x00\x00\x00\x00\xC0"_ba;
    });
    RomConnection rom(link);
    const auto reply =
        rom.command(esptool::command::readReg(0x40001000), std::chrono::milliseconds(200));
    QVERIFY(!reply);
    QCOMPARE(reply.error().kind, ErrorKind::garbledReply);
}

void TestRomConnection::lostLinkIsReported()
{
    FakeSerialLink link;
    link.dropAfterWrites(0);
    RomConnection rom(link);
    const auto value = rom.readReg(0x40001000);
    QVERIFY(!value);
    QCOMPARE(value.error().kind, ErrorKind::linkLost);
    const auto synced = rom.trySync();
    QVERIFY(!synced);
    QCOMPARE(synced.error().kind, ErrorKind::linkLost);
}

void TestRomConnection::syncFlushesThenCollectsTheEchoes()
{
    FakeSerialLink link;
    link.deliver("ets Jun  8 2016 00:22:57\r\n\r\nrst:0x1 (POWERON_RESET)"_ba);
    link.setResponder([](const QByteArray& written) {
        if (romreplies::requestOpcode(written) == 0x08)
            return romreplies::syncReplies();
        return romreplies::frame(0x0A, 0x00F01D83);
    });
    RomConnection rom(link);
    const auto synced = rom.trySync();
    QVERIFY(synced);
    QVERIFY(synced.value());
    const QList<FakeSerialLink::Event> events = link.events();
    QCOMPARE(events.first().kind, Kind::discard);
    QCOMPARE(events[1].kind, Kind::write);
    QCOMPARE(romreplies::requestOpcode(events[1].bytes), 0x08);
    // The seven echoes were taken up, so the next reply is found at once.
    const auto magic = rom.readReg(0x40001000);
    QVERIFY(magic);
    QCOMPARE(magic.value(), 0x00F01D83u);
}

void TestRomConnection::syncWithoutAnswerIsNoErrorButFalse()
{
    FakeSerialLink link;
    RomConnection rom(link);
    const auto synced = rom.trySync();
    QVERIFY(synced);
    QVERIFY(!synced.value());
}

void TestRomConnection::syncIgnoresNoise()
{
    FakeSerialLink link;
    // A chip running its application prints text, some of it framed by accident.
    link.setResponder([](const QByteArray&) {
        return "I (312) wifi: \xC0garbage\xDB\x01\xC0\xC0\x01\x08\x09\x00\xC0"_ba;
    });
    RomConnection rom(link);
    const auto synced = rom.trySync();
    QVERIFY(synced);
    QVERIFY(!synced.value());
}

QTEST_APPLESS_MAIN(TestRomConnection)
#include "tst_romconnection.moc"
