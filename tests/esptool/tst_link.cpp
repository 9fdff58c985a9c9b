#include "FakeSerialLink.h"
#include "link/PortErrors.h"
#include "link/ResetSequence.h"
#include "link/RomConnection.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using esptool::ErrorKind;
using esptool::PortProbe;
using esptool::ResetSequence;
using esptool::RomConnection;

namespace {

// What a command came back with, in one word: "value 12345678", "refused 05" (with "on the way"
// when the chip refused a damaged copy), "garbled", "timeout", "restarted" (with the cause named),
// "lost".
QString outcome(const esptool::Result<esptool::RomReply>& reply)
{
    if (reply)
        return u"value %1"_s.arg(reply.value().value, 8, 16, QLatin1Char('0'));
    switch (reply.error().kind) {
    case ErrorKind::romError:
        return u"refused %1%2"_s.arg(*reply.error().romCode, 2, 16, QLatin1Char('0'))
            .arg(reply.error().message.contains(u"damaged"_s) ? u" on the way"_s : QString());
    case ErrorKind::garbledReply:
        return u"garbled"_s;
    case ErrorKind::timeout:
        return u"timeout"_s;
    case ErrorKind::chipRestarted:
        return u"restarted %1"_s.arg(reply.error().message.section(u'(', 2, 2).section(u')', 0, 0));
    default:
        return u"lost"_s;
    }
}

QByteArray syncReply()
{
    return romreplies::frame(0x08, 0x20120707);
}

}  // namespace

class TestLink : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void linesAndTimes_data();
    void linesAndTimes();
    void pseudoTerminalSkipsThePulses();
    void replies_data();
    void replies();
    void syncKeepsWhatWaitedAndTakesUpTheEchoes();
    void confirmedReadWaitsForTwoAgreeingAnswers();
    void repeatNeverTakesTheLateReply();
    void openFailures_data();
    void openFailures();
};

void TestLink::linesAndTimes_data()
{
    QTest::addColumn<ResetSequence>("sequence");
    QTest::addColumn<QString>("changes");
    // RTS drives EN, DTR drives GPIO0: EN held low with GPIO0 high for 100 ms, then EN released
    // while GPIO0 is low, and GPIO0 released after the hold.
    QTest::newRow("classic, short hold") << ResetSequence::classic(std::chrono::milliseconds(50))
                                         << u"dtr=0@0 rts=1@0 dtr=1@100 rts=0@100 dtr=0@150"_s;
    // The same steps with both lines in one call each: no moment with one line changed alone.
    QTest::newRow("tight, short hold") << ResetSequence::tight(std::chrono::milliseconds(50))
                                       << u"lines=01@0 lines=10@100 lines=00@150"_s;
    QTest::newRow("hard reset: EN pulse, GPIO0 untouched")
        << ResetSequence::hardReset() << u"rts=1@0 rts=0@100"_s;
}

void TestLink::linesAndTimes()
{
    QFETCH(ResetSequence, sequence);
    QFETCH(QString, changes);
    FakeSerialLink link;
    QCOMPARE(sequence.apply(link), ResetSequence::Outcome::done);
    QCOMPARE(link.lineChanges().join(u' '), changes);
}

void TestLink::pseudoTerminalSkipsThePulses()
{
    FakeSerialLink pty(false);
    QCOMPARE(ResetSequence::classic(std::chrono::milliseconds(50)).apply(pty),
             ResetSequence::Outcome::noModemLines);
    QCOMPARE(ResetSequence::tight(std::chrono::milliseconds(50)).apply(pty),
             ResetSequence::Outcome::noModemLines);
    // No time is spent waiting on lines that do not exist.
    QCOMPARE(pty.nowMs(), 0);
}

void TestLink::replies_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("expected");
    const QByteArray magic = "\xC0\x01\x0A\x04\x00\x83\x1D\xF0\x00\x00\x00\x00\x00\xC0"_ba;

    QTest::newRow("the reply") << magic << u"value 00f01d83"_s;
    QTest::newRow("late SYNC echo and another command's reply skipped")
        << syncReply() + romreplies::frame(0x13) + magic << u"value 00f01d83"_s;
    QTest::newRow("late refusal of an earlier request, then the reply")
        << romreplies::frame(0x11, 0, {}, 1, 0x07) + magic << u"value 00f01d83"_s;
    QTest::newRow("a damaged copy refused as another opcode")
        << romreplies::frame(0x0B, 0, {}, 1, 0x05) << u"refused 05 on the way"_s;
    QTest::newRow("own failure") << romreplies::frame(0x0A, 0, {}, 1, 0x07) << u"refused 07"_s;
    QTest::newRow("size field one too many")
        << "\xC0\x01\x0A\x05\x00\x00\x00\x00\x00\x00\x00\x00\x00\xC0"_ba << u"garbled"_s;
    QTest::newRow("bad escape") << "\xC0\x01\x0A\x04\x00\xDB\x00\x00\x00\x00\x00\x00\x00\xC0"_ba
                                << u"garbled"_s;
    QTest::newRow("closing delimiter lost") << magic.chopped(1) << u"garbled"_s;
    QTest::newRow("opcode byte hit, then silence")
        << "\xC0\x01\x4A\x05\x00\x00\x00\x00\x00\x00\x00\x00\x00\xC0"_ba << u"garbled"_s;
    QTest::newRow("silence") << QByteArray() << u"timeout"_s;
    // Its banner, at the ROM's own rate: the chip has lost the session and will never answer.
    QTest::newRow("a restart in the middle")
        << "\xC0\x01\x0A\x04ets Jun  8 2016 00:22:57\r\n\r\nrst:0xf (RTCWDT_BROWN_OUT_RESET),"
           "boot:0x3 (DOWNLOAD_BOOT(UART0/UART1/SDIO_REI_REO_V2))\r\nwaiting for download\r\n"_ba
        << u"restarted RTCWDT_BROWN_OUT_RESET"_s;
}

void TestLink::replies()
{
    QFETCH(QByteArray, answer);
    QFETCH(QString, expected);
    // Garbled and refused answers do not wait out the timeout.
    const int timeoutMs = expected == u"timeout"_s ? 200 : 3000;
    FakeSerialLink link(true, [answer](const QByteArray&) { return answer; });
    RomConnection rom(link, 115200);
    rom.watchForRestarts(true);
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(outcome(rom.command(esptool::command::readReg(0x40001000),
                                 std::chrono::milliseconds(timeoutMs))),
             expected);
    QVERIFY(timer.elapsed() < 2000);
    QCOMPARE(link.writes().first(), "\xC0\x00\x0A\x04\x00\x00\x00\x00\x00\x00\x10\x00\x40\xC0"_ba);
}

void TestLink::syncKeepsWhatWaitedAndTakesUpTheEchoes()
{
    FakeSerialLink link(true, [](const QByteArray& written) {
        return romreplies::requestOpcode(written) == 0x08 ? romreplies::syncReplies()
                                                          : romreplies::frame(0x0A, 0x1234);
    });
    // What a chip prints after a reset is kept as evidence, not taken for a reply.
    link.deliver("rst:0x1 (POWERON_RESET),boot:0x13 (SPI_FAST_FLASH_BOOT)\r\n"_ba + syncReply());
    RomConnection rom(link, 115200);
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

void TestLink::confirmedReadWaitsForTwoAgreeingAnswers()
{
    // A value damaged on the line once is not taken.
    QList<quint32> answers{0xC4123456, 0xC4123457, 0xC4123457};
    FakeSerialLink link(true, [&answers](const QByteArray&) {
        return romreplies::frame(0x0A, answers.takeFirst());
    });
    RomConnection rom(link, 115200);
    const esptool::Result<quint32> value = rom.readRegConfirmed(0x3FF5A004);
    QVERIFY(value);
    QCOMPARE(value.value(), 0xC4123457u);
    QCOMPARE(link.writes().size(), 3);
}

void TestLink::repeatNeverTakesTheLateReply()
{
    // The first try goes unanswered until its wait has given up; its reply then arrives late,
    // and is no reply to the second try, which gets its own.
    int tries = 0;
    FakeSerialLink link(true, [&tries](const QByteArray&) {
        return ++tries == 1 ? QByteArray() : romreplies::frame(0x0A, 0x2222);
    });
    link.deliverAfterNextTimeout(romreplies::frame(0x0A, 0x1111));
    RomConnection rom(link, 115200);
    QCOMPARE(outcome(rom.repeatable(esptool::command::readReg(0x3FF5A004))), u"value 00002222"_s);
    QCOMPARE(tries, 2);
}

void TestLink::openFailures_data()
{
    QTest::addColumn<QSerialPort::SerialPortError>("error");
    QTest::addColumn<PortProbe>("probe");
    QTest::addColumn<ErrorKind>("kind");
    QTest::addColumn<QString>("hintPart");

    QTest::newRow("missing, whatever Qt says") << QSerialPort::PermissionError << PortProbe{}
                                               << ErrorKind::portNotFound << u"plugged in"_s;
    QTest::newRow("no access, dialout")
        << QSerialPort::PermissionError << PortProbe{true, false, u"dialout"_s}
        << ErrorKind::permissionDenied << u"group 'dialout'"_s;
    QTest::newRow("no access, uucp names uucp")
        << QSerialPort::PermissionError << PortProbe{true, false, u"uucp"_s}
        << ErrorKind::permissionDenied << u"usermod -aG uucp"_s;
    QTest::newRow("no access, root group")
        << QSerialPort::PermissionError << PortProbe{true, false, u"root"_s}
        << ErrorKind::permissionDenied << u"administrator"_s;
    QTest::newRow("other failure") << QSerialPort::OpenError << PortProbe{true, true, {}}
                                   << ErrorKind::portFailure << QString();
}

void TestLink::openFailures()
{
    QFETCH(QSerialPort::SerialPortError, error);
    QFETCH(PortProbe, probe);
    QFETCH(ErrorKind, kind);
    QFETCH(QString, hintPart);
    const esptool::FlasherError failure =
        esptool::openFailure(u"/dev/ttyUSB0"_s, error, u"some text"_s, probe);
    QCOMPARE(failure.kind, kind);
    QVERIFY(failure.message.contains(u"/dev/ttyUSB0"_s));
    QVERIFY2(failure.hint.contains(hintPart), qPrintable(failure.hint));
    if (kind == ErrorKind::permissionDenied)
        QVERIFY(failure.hint.contains(u"log out and in again"_s));
    QVERIFY(!failure.line().contains(u'\n'));
}

QTEST_APPLESS_MAIN(TestLink)
#include "tst_link.moc"
