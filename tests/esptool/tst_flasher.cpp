// The flasher's steps against a scripted chip on a fake link: what a pseudo-terminal cannot show
// (modem lines), answers the simulator does not give (a wrong or missing MD5, a chip lost at
// both rates), the wait for a port that went away, and what a silent port is taken to mean.

#include "FakeSerialLink.h"
#include "flasher/BaudFallback.h"
#include "flasher/BootDiagnosis.h"
#include "flasher/Flasher.h"
#include "flasher/FlasherObserver.h"
#include "flasher/LineHealth.h"
#include "flasher/PortReturn.h"

#include <QCryptographicHash>
#include <QHash>
#include <QTest>

using namespace Qt::StringLiterals;
using esptool::ErrorKind;

namespace {

class RecordingObserver final : public esptool::FlasherObserver
{
public:
    void info(const QString& line) override { lines << line; }
    void warning(const QString& line) override { lines << u"Warning: "_s + line; }
    void writeProgress(const esptool::WriteProgress&) override {}

    QStringList lines;
};

// Just enough of a ROM loader: SYNC (after a number of unanswered ones), READ_REG from a
// register map (a flash ID of no size we know), CHANGE_BAUDRATE (after which it may fall
// silent), MD5 answers in turn. It may restart at its first data block and boot a firmware that
// fails, printing its banner whenever it is written to, until a reset pulse brings it back.
struct ScriptedRom
{
    int silentSyncs = 0;
    bool silentAfterBaudChange = false;
    bool silent = false;
    bool restartsAtFirstBlock = false;
    const FakeSerialLink* link = nullptr;
    qsizetype lineChangesAtRestart = -1;  // while it runs its failing firmware
    QList<QByteArray> md5Answers{QByteArray(32, '0')};
    QHash<quint32, quint32> registers{{0x40001000, 0x00F01D83}, {0x3FF5A004, 0xC4123456},
                                      {0x3FF5A008, 0x0000240A}, {0x3FF5A00C, 0x0000A200},
                                      {0x3FF5A014, 0x01100000}, {0x3FF6607C, 0x80000000},
                                      {0x3FF40014, 347},        {0x3FF42080, 0x1E40EF}};

    QByteArray answer(const QByteArray& written)
    {
        const int opcode = romreplies::requestOpcode(written);
        if (lineChangesAtRestart >= 0) {
            if (link->lineChanges().size() == lineChangesAtRestart) {
                return "ets Jun  8 2016 00:22:57\r\n\r\nrst:0x10 (RTCWDT_RTC_RESET),boot:0x13 "
                       "(SPI_FAST_FLASH_BOOT)\r\nflash read err, 1000\r\n"_ba;
            }
            lineChangesAtRestart = -1;
        }
        if (restartsAtFirstBlock && opcode == 0x11) {
            restartsAtFirstBlock = false;
            lineChangesAtRestart = link->lineChanges().size();
            return {};
        }
        if (silent || (opcode == 0x08 && silentSyncs-- > 0))
            return {};
        switch (opcode) {
        case 0x08:
            return romreplies::syncReplies();
        case 0x0A:
            return romreplies::frame(0x0A, registers.value(romreplies::requestWord(written, 0)));
        case 0x0F:
            silent = silentAfterBaudChange;
            return romreplies::frame(0x0F);
        case 0x13:
            return romreplies::frame(
                0x13, 0, md5Answers.size() > 1 ? md5Answers.takeFirst() : md5Answers.first());
        default:
            return romreplies::frame(quint8(opcode));
        }
    }
};

struct Bench
{
    explicit Bench(bool hasModemLines = false,
                   esptool::BeforeReset before = esptool::BeforeReset::noReset)
    {
        auto owned = std::make_unique<FakeSerialLink>(
            hasModemLines, [this](const QByteArray& written) { return rom.answer(written); });
        link = owned.get();
        rom.link = link;
        esptool::SessionSettings settings;
        settings.before = before;
        flasher = std::make_unique<esptool::Flasher>(std::move(owned), settings,
                                                     esptool::LinkOpener(), observer);
    }

    ScriptedRom rom;
    RecordingObserver observer;
    FakeSerialLink* link = nullptr;
    std::unique_ptr<esptool::Flasher> flasher;
};

// Compressed, and every piece written whatever the board holds.
esptool::WriteSettings noSkip()
{
    esptool::WriteSettings settings;
    settings.compress = true;
    settings.skip = false;
    return settings;
}

QByteArray md5Of(const QByteArray& data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex();
}

}  // namespace

class TestFlasher : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void resetsAlternateUntilTheChipAnswers();
    void silenceAfterBaudSwitchIsReportedAsSuch();
    void md5Answers_data();
    void md5Answers();
    void checksBeforeWriting_data();
    void checksBeforeWriting();
    void resetsBootLoopingBoardIntoItsLoader();
    void waitsForThePortToComeBack();
    void judgesWhatThePortCarried_data();
    void judgesWhatThePortCarried();
    void fallsBackOnEvidence_data();
    void fallsBackOnEvidence();
};

void TestFlasher::resetsAlternateUntilTheChipAnswers()
{
    Bench bench(true, esptool::BeforeReset::defaultReset);
    // Three attempts of five SYNCs go unanswered: the fourth reset is the one that works.
    bench.rom.silentSyncs = 15;
    QVERIFY(bench.flasher->openSession());
    const QString changes = bench.link->lineChanges().join(u' ');
    QCOMPARE(changes.count(u"rts=1"_s) + changes.count(u"lines=01"_s), 4);
    QVERIFY2(changes.startsWith(u"dtr=0@0 rts=1@0 dtr=1@100 rts=0@100 dtr=0@150"_s),
             qPrintable(changes));
    // The last was the tight sequence with the long hold.
    QVERIFY2(bench.link->lineChanges().last().startsWith(u"lines=00"_s), qPrintable(changes));
    QVERIFY(bench.observer.lines.contains(u"MAC: 24:0a:c4:12:34:56"_s));
    bench.flasher->finish(esptool::AfterReset::hardReset);
    QVERIFY(bench.link->lineChanges().join(u' ').endsWith(
        u"rts=1@%1 rts=0@%2"_s.arg(bench.link->nowMs() - 100).arg(bench.link->nowMs())));

    Bench untouched(true);
    QVERIFY(untouched.flasher->openSession());
    untouched.flasher->finish(esptool::AfterReset::noReset);
    QVERIFY(untouched.link->lineChanges().isEmpty());
}

void TestFlasher::silenceAfterBaudSwitchIsReportedAsSuch()
{
    Bench bench;
    bench.rom.silentAfterBaudChange = true;
    QVERIFY(bench.flasher->openSession());
    const esptool::Status changed = bench.flasher->session().changeBaud(1500000);
    QVERIFY(!changed);
    QCOMPARE(changed.error().kind, ErrorKind::lostAfterBaudChange);
    QVERIFY(changed.error().message.contains(u"1500000"_s));
    // Both rates were tried before giving up.
    QCOMPARE(bench.link->bauds(), (QList<int>{1500000, 1500000, 115200}));
}

void TestFlasher::md5Answers_data()
{
    const QByteArray data(1024, '\x42');
    const QByteArray erased = md5Of(QByteArray(1024, '\xFF'));
    QTest::addColumn<QList<QByteArray>>("answers");
    QTest::addColumn<std::optional<ErrorKind>>("kind");  // empty: the write succeeds
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<int>("triedAgain");  // times the piece was written again
    QTest::newRow("right after one other answer")
        << QList<QByteArray>{erased, md5Of(data)} << std::optional<ErrorKind>() << QString() << 0;
    // Right as written, erased at the end (a BEGIN whose address was damaged on the way erases
    // elsewhere): the piece is written again.
    QTest::newRow("changed after it was written")
        << QList<QByteArray>{md5Of(data), erased, erased, erased, erased, md5Of(data)}
        << std::optional<ErrorKind>() << QString() << 0;
    // Two answers agree: the flash holds something else, every time the piece is written. The
    // chip's own failure is tried a few times.
    QTest::newRow("still erased") << QList<QByteArray>{erased}
                                  << std::optional(ErrorKind::md5Mismatch) << u"reads back erased"_s
                                  << esptool::LineHealth::pieceAttempts - 1;
    // A digest that never arrives readable is the line's fault: tried while the run gets
    // somewhere, and the same piece again and again is getting nowhere.
    QTest::newRow("no digest at all")
        << QList<QByteArray>{"12345"_ba} << std::optional(ErrorKind::noisyLine)
        << u"holds 5 bytes"_s << esptool::LineHealth::triesGettingNowhere;
}

void TestFlasher::md5Answers()
{
    QFETCH(QList<QByteArray>, answers);
    QFETCH(std::optional<ErrorKind>, kind);
    QFETCH(QString, outcome);
    QFETCH(int, triedAgain);
    Bench bench;
    bench.rom.md5Answers = answers;
    QVERIFY(bench.flasher->openSession());
    const esptool::Status written =
        bench.flasher->writeFlash({{0x0, QByteArray(1024, '\x42'), u"data.bin"_s}}, noSkip());
    // The flash ID names no size and the size is kept: the chip's own flash parameters stand.
    QVERIFY(std::none_of(bench.link->writes().cbegin(), bench.link->writes().cend(),
                         [](const QByteArray& w) { return romreplies::requestOpcode(w) == 0x0B; }));
    QCOMPARE(bench.observer.lines.filter(u"again (try"_s).size(), triedAgain);
    if (!kind) {
        QVERIFY2(written, qPrintable(written.error().line()));
        return;
    }
    QVERIFY(!written);
    QCOMPARE(written.error().kind, *kind);
    QVERIFY2(written.error().message.contains(outcome), qPrintable(written.error().message));
}

void TestFlasher::checksBeforeWriting_data()
{
    const QByteArray data(1024, '\x42');
    QByteArray nearly = md5Of(data);
    nearly[31] = nearly[31] == '0' ? '1' : '0';
    QTest::addColumn<QList<QByteArray>>("answers");  // the pre-check's first
    QTest::addColumn<bool>("writes");
    // Noise cannot forge a digest: a match is believed.
    QTest::newRow("the data's own digest") << QList<QByteArray>{md5Of(data)} << false;
    QTest::newRow("another digest") << QList<QByteArray>{nearly, md5Of(data)} << true;
    QTest::newRow("no digest at all") << QList<QByteArray>{"12345"_ba, md5Of(data)} << true;
}

void TestFlasher::checksBeforeWriting()
{
    QFETCH(QList<QByteArray>, answers);
    QFETCH(bool, writes);
    Bench bench;
    bench.rom.md5Answers = answers;
    QVERIFY(bench.flasher->openSession());
    esptool::WriteSettings settings;
    settings.compress = true;
    const esptool::Status written =
        bench.flasher->writeFlash({{0x0, QByteArray(1024, '\x42'), u"data.bin"_s}}, settings);
    QVERIFY2(written, qPrintable(written.error().line()));
    QCOMPARE(std::any_of(bench.link->writes().cbegin(), bench.link->writes().cend(),
                         [](const QByteArray& w) { return romreplies::requestOpcode(w) == 0x10; }),
             writes);
}

void TestFlasher::resetsBootLoopingBoardIntoItsLoader()
{
    Bench bench(true, esptool::BeforeReset::defaultReset);
    const QByteArray data(1024, '\x42');
    bench.rom.md5Answers = {md5Of(data)};
    bench.rom.restartsAtFirstBlock = true;
    QVERIFY(bench.flasher->openSession());
    const qsizetype resets = bench.link->lineChanges().size();
    const esptool::Status written =
        bench.flasher->writeFlash({{0x0, data, u"data.bin"_s}}, noSkip());
    QVERIFY2(written, qPrintable(written.error().line()));
    QVERIFY(bench.link->lineChanges().size() > resets);
    const QStringList said = bench.observer.lines.filter(u"restarted"_s);
    QCOMPARE(said.size(), 1);
    QVERIFY2(said.first().contains(u"RTCWDT_RTC_RESET"_s) &&
                 said.first().contains(u"flash read err"_s) &&
                 said.first().contains(u"reset it into its loader"_s),
             qPrintable(said.first()));
}

void TestFlasher::waitsForThePortToComeBack()
{
    using esptool::FlasherError;
    // udev and other services touch a fresh node first: none of these means "gone for good".
    QList<ErrorKind> failures{ErrorKind::portNotFound, ErrorKind::permissionDenied,
                              ErrorKind::portBusy};
    const esptool::LinkOpener opener =
        [&failures](const QString&, int) -> esptool::Result<std::unique_ptr<esptool::SerialLink>> {
        if (!failures.isEmpty())
            return FlasherError{failures.takeFirst(), u"not yet"_s, {}};
        return std::unique_ptr<esptool::SerialLink>(std::make_unique<FakeSerialLink>());
    };
    const auto back = esptool::waitForPort(opener, u"/dev/fake0"_s, 115200, std::chrono::seconds(5),
                                           std::chrono::milliseconds(1));
    QVERIFY(back);
    QVERIFY(failures.isEmpty());
}

void TestFlasher::judgesWhatThePortCarried_data()
{
    QTest::addColumn<QByteArray>("heard");
    QTest::addColumn<ErrorKind>("kind");
    QTest::addColumn<QString>("says");
    // After a reset during the run the last banner is the one that counts.
    QTest::newRow("download mode, then a reset into the firmware")
        << "rst:0x1 (POWERON_RESET),boot:0x3 (DOWNLOAD_BOOT(UART0/UART1/SDIO_REI_REO_V2))\r\n"
           "rst:0x10 (RTCWDT_RTC_RESET),boot:0x1b (SPI_FAST_FLASH_BOOT)\r\n"_ba
        << ErrorKind::bootedFirmware << u"boot:0x1b"_s;
    QTest::newRow("waiting for a download, but no reply")
        << "rst:0x1 (POWERON_RESET),boot:0x3 (DOWNLOAD_BOOT(UART0/UART1/SDIO_REI_REO_V2))\r\n"
           "waiting for download\r\n"_ba
        << ErrorKind::noAnswer << u"waiting for a download"_s;
    QTest::newRow("bytes at another speed")
        << "\x80\x00\xF8\x78\x80\xF8\x00\x78"_ba << ErrorKind::noAnswer
        << u"8 bytes came from the port, but never a valid reply"_s;
}

void TestFlasher::judgesWhatThePortCarried()
{
    QFETCH(QByteArray, heard);
    QFETCH(ErrorKind, kind);
    QFETCH(QString, says);
    const esptool::FlasherError error =
        esptool::noAnswerDiagnosis(u"/dev/ttyUSB0"_s, heard, heard.size());
    QCOMPARE(error.kind, kind);
    QVERIFY2(error.message.contains(says), qPrintable(error.message));
    QVERIFY(error.message.contains(u"/dev/ttyUSB0"_s));
    QVERIFY(!error.hint.isEmpty());
}

namespace {

using Fallback = esptool::BaudFallback::Decision::Kind;

// One look at the line, and what the fall-back makes of it.
struct LineReview
{
    int baud = 0;
    int sends = 0;
    int resends = 0;
    bool stalled = false;
    Fallback decision = Fallback::stay;
    int movesTo = 0;
};

constexpr int full = esptool::BaudFallback::windowBlocks;

}  // namespace

void TestFlasher::fallsBackOnEvidence_data()
{
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QList<LineReview>>("reviews");
    QTest::newRow("a clean line stays") << true << QList<LineReview>{{1500000, full, 3}};
    QTest::newRow("a burst in a window too small to judge")
        << true << QList<LineReview>{{1500000, full - 1, full - 1}};
    QTest::newRow("a third sent again: down one rate, where it is clean")
        << true
        << QList<LineReview>{{1500000, full, full / 3, false, Fallback::stepDown, 921600},
                             {921600, full, 0},
                             {921600, full, 2}};
    QTest::newRow("down the ladder while each rate is better, but still bad")
        << true
        << QList<LineReview>{{1500000, full, 150, false, Fallback::stepDown, 921600},
                             {921600, full, 100, false, Fallback::stepDown, 460800},
                             {460800, full, 10}};
    // Noise that the rate does not change: back to the faster rate, and no more looking.
    QTest::newRow("no better below: back up, for good")
        << true
        << QList<LineReview>{{921600, full, 120, false, Fallback::stepDown, 460800},
                             {460800, full, 110, false, Fallback::stepBack, 921600},
                             {921600, full, 150}};
    QTest::newRow("a rate the ladder does not have goes to the next one below")
        << true << QList<LineReview>{{2000000, full, 100, false, Fallback::stepDown, 1500000}};
    QTest::newRow("stalled before the window filled: down at once")
        << true << QList<LineReview>{{921600, 10, 10, true, Fallback::stepDown, 460800}};
    QTest::newRow("stalled below as above: it gives up where it is")
        << true
        << QList<LineReview>{{921600, full, 100, false, Fallback::stepDown, 460800},
                             {460800, 40, 40, true}};
    QTest::newRow("stalled at the bottom") << true << QList<LineReview>{{115200, 40, 40, true}};
    QTest::newRow("--no-baud-fallback")
        << false << QList<LineReview>{{1500000, full, full, false}, {1500000, 40, 40, true}};
}

void TestFlasher::fallsBackOnEvidence()
{
    QFETCH(bool, enabled);
    QFETCH(QList<LineReview>, reviews);
    esptool::BaudFallback fallback(enabled);
    for (const LineReview& review : reviews) {
        const esptool::BaudFallback::Decision decision =
            fallback.review(review.baud, review.sends, review.resends, review.stalled);
        QCOMPARE(decision.kind, review.decision);
        if (review.decision != Fallback::stay)
            QCOMPARE(decision.baud, review.movesTo);
    }
}

QTEST_APPLESS_MAIN(TestFlasher)
#include "tst_flasher.moc"
