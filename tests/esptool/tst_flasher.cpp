#include "FakeSerialLink.h"
#include "RomReplies.h"
#include "flasher/Flasher.h"
#include "flasher/FlasherObserver.h"

#include <QCryptographicHash>
#include <QHash>
#include <QTest>

using namespace Qt::StringLiterals;
using esptool::ErrorKind;
using Kind = FakeSerialLink::Event::Kind;

namespace {

class RecordingObserver final : public esptool::FlasherObserver
{
public:
    void info(const QString& line) override { infos << line; }
    void warning(const QString& line) override { warnings << line; }
    void writeProgress(const esptool::WriteProgress& progress) override
    {
        progressSeen << progress;
    }

    QStringList infos;
    QStringList warnings;
    QList<esptool::WriteProgress> progressSeen;
};

// Just enough of a ROM loader to connect to: SYNC, READ_REG from a register map, and
// CHANGE_BAUDRATE, after which it can be told to fall silent.
class ScriptedRom
{
public:
    ScriptedRom()
    {
        registers = {{0x40001000, 0x00F01D83}, {0x3FF5A004, 0xC4123456}, {0x3FF5A008, 0x0000240A},
                     {0x3FF5A00C, 0x0000A200}, {0x3FF5A010, 0x00000066}, {0x3FF5A014, 0x01100000},
                     {0x3FF6607C, 0x80000000}, {0x3FF40014, 347},        {0x3FF5F06C, 972u << 7},
                     {0x3FF42080, 0x1640EF}};
    }

    QByteArray answer(const QByteArray& written)
    {
        if (silent)
            return {};
        const int opcode = romreplies::requestOpcode(written);
        switch (opcode) {
        case 0x08:
            return romreplies::syncReplies();
        case 0x0A:
            return romreplies::frame(0x0A, registers.value(romreplies::requestWord(written, 0)));
        case 0x0F:
            silent = silentAfterBaudChange;
            return romreplies::frame(0x0F, 0x733);
        case 0x13:
            return romreplies::frame(0x13, 0, flashMd5);
        default:
            return romreplies::frame(quint8(opcode));
        }
    }

    QHash<quint32, quint32> registers;
    bool silent = false;
    bool silentAfterBaudChange = false;
    QByteArray flashMd5 = "00000000000000000000000000000000"_ba;
};

void attach(FakeSerialLink& link, ScriptedRom& rom)
{
    link.setResponder([&rom](const QByteArray& written) { return rom.answer(written); });
}

}  // namespace

class TestFlasher : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void connectOnPseudoTerminalWarnsOnce();
    void connectResetsBeforeTheFirstSync();
    void noResetLeavesTheLinesAlone();
    void refusesAnotherChip();
    void baudSwitchSendsTheCorrectedRate();
    void silenceAfterBaudSwitchIsReportedAsSuch();
    void md5MismatchFailsTheWrite_data();
    void md5MismatchFailsTheWrite();
};

void TestFlasher::connectOnPseudoTerminalWarnsOnce()
{
    auto owned = std::make_unique<FakeSerialLink>(false);
    FakeSerialLink& link = *owned;
    ScriptedRom rom;
    attach(link, rom);
    RecordingObserver observer;
    esptool::Flasher flasher(std::move(owned), 115200, {}, observer);
    QVERIFY(flasher.connect(esptool::BeforeReset::defaultReset));
    flasher.finish(esptool::AfterReset::hardReset);
    QCOMPARE(observer.warnings.size(), 1);
    QVERIFY(observer.warnings[0].contains(u"modem-control"_s));
    const QString all = observer.infos.join(u'\n');
    QVERIFY2(all.contains(u"ESP32-D0WD-V3 (revision v3.1)"_s), qPrintable(all));
    QVERIFY(all.contains(u"MAC: 24:0a:c4:12:34:56"_s));
    QVERIFY(all.contains(u"Crystal: 40 MHz"_s));
}

void TestFlasher::connectResetsBeforeTheFirstSync()
{
    auto owned = std::make_unique<FakeSerialLink>(true);
    FakeSerialLink& link = *owned;
    ScriptedRom rom;
    attach(link, rom);
    RecordingObserver observer;
    esptool::Flasher flasher(std::move(owned), 115200, {}, observer);
    QVERIFY(flasher.connect(esptool::BeforeReset::defaultReset));
    QVERIFY(observer.warnings.isEmpty());
    const QList<FakeSerialLink::Event> events = link.events();
    qsizetype firstWrite = -1;
    for (qsizetype i = 0; i < events.size() && firstWrite < 0; ++i) {
        if (events[i].kind == Kind::write)
            firstWrite = i;
    }
    QVERIFY(firstWrite > 0);
    QCOMPARE(link.events(Kind::dtr).size(), 3);
    QCOMPARE(link.events(Kind::rts).size(), 2);
    QVERIFY(link.events(Kind::dtr).last().atMs <= events[firstWrite].atMs);
    flasher.finish(esptool::AfterReset::hardReset);
    // The hard reset adds one EN pulse and leaves GPIO0 alone.
    QCOMPARE(link.events(Kind::rts).size(), 4);
    QCOMPARE(link.events(Kind::dtr).size(), 3);
}

void TestFlasher::noResetLeavesTheLinesAlone()
{
    auto owned = std::make_unique<FakeSerialLink>(true);
    FakeSerialLink& link = *owned;
    ScriptedRom rom;
    attach(link, rom);
    RecordingObserver observer;
    esptool::Flasher flasher(std::move(owned), 115200, {}, observer);
    QVERIFY(flasher.connect(esptool::BeforeReset::noReset));
    flasher.finish(esptool::AfterReset::noReset);
    QVERIFY(link.events(Kind::dtr).isEmpty());
    QVERIFY(link.events(Kind::rts).isEmpty());
}

void TestFlasher::refusesAnotherChip()
{
    auto owned = std::make_unique<FakeSerialLink>(false);
    FakeSerialLink& link = *owned;
    ScriptedRom rom;
    rom.registers[0x40001000] = 0x00000009;
    attach(link, rom);
    RecordingObserver observer;
    esptool::Flasher flasher(std::move(owned), 115200, {}, observer);
    const esptool::Status connected = flasher.connect(esptool::BeforeReset::noReset);
    QVERIFY(!connected);
    QCOMPARE(connected.error().kind, ErrorKind::wrongChip);
    QVERIFY(connected.error().message.contains(u"0x00000009"_s));
}

void TestFlasher::baudSwitchSendsTheCorrectedRate()
{
    auto owned = std::make_unique<FakeSerialLink>(false);
    FakeSerialLink& link = *owned;
    ScriptedRom rom;
    attach(link, rom);
    RecordingObserver observer;
    esptool::Flasher flasher(std::move(owned), 115200, {}, observer);
    QVERIFY(flasher.connect(esptool::BeforeReset::noReset));
    QVERIFY(flasher.changeBaud(460800));
    QByteArray change;
    for (const FakeSerialLink::Event& event : link.events(Kind::write)) {
        if (romreplies::requestOpcode(event.bytes) == 0x0F)
            change = event.bytes;
    }
    QCOMPARE(romreplies::requestWord(change, 0), 446148u);
    QCOMPARE(romreplies::requestWord(change, 1), 0u);
    const QList<FakeSerialLink::Event> bauds = link.events(Kind::baud);
    QCOMPARE(bauds.size(), 1);
    QCOMPARE(bauds[0].value, 460800);
    // The same rate again changes nothing.
    QVERIFY(flasher.changeBaud(460800));
    QCOMPARE(link.events(Kind::baud).size(), 1);
}

void TestFlasher::silenceAfterBaudSwitchIsReportedAsSuch()
{
    auto owned = std::make_unique<FakeSerialLink>(false);
    FakeSerialLink& link = *owned;
    ScriptedRom rom;
    rom.silentAfterBaudChange = true;
    attach(link, rom);
    RecordingObserver observer;
    esptool::Flasher flasher(std::move(owned), 115200, {}, observer);
    QVERIFY(flasher.connect(esptool::BeforeReset::noReset));
    const esptool::Status changed = flasher.changeBaud(1500000);
    QVERIFY(!changed);
    QCOMPARE(changed.error().kind, ErrorKind::lostAfterBaudChange);
    QVERIFY(changed.error().message.contains(u"1500000"_s));
    QVERIFY(changed.error().hint.contains(u"lower baud"_s));
}

void TestFlasher::md5MismatchFailsTheWrite_data()
{
    QTest::addColumn<QByteArray>("flashMd5");
    QTest::addColumn<QString>("found");
    QTest::newRow("other data") << "00112233445566778899aabbccddeeff"_ba
                                << u"MD5 00112233445566778899aabbccddeeff"_s;
    // The MD5 of 1 KiB of 0xFF: the write left nothing behind.
    QTest::newRow("still erased")
        << QCryptographicHash::hash(QByteArray(1024, '\xFF'), QCryptographicHash::Md5).toHex()
        << u"reads back erased"_s;
    QTest::newRow("no digest") << "12345"_ba << QString();
}

void TestFlasher::md5MismatchFailsTheWrite()
{
    QFETCH(QByteArray, flashMd5);
    QFETCH(QString, found);
    auto owned = std::make_unique<FakeSerialLink>(false);
    FakeSerialLink& link = *owned;
    ScriptedRom rom;
    rom.flashMd5 = flashMd5;
    attach(link, rom);
    RecordingObserver observer;
    esptool::Flasher flasher(std::move(owned), 115200, {}, observer);
    QVERIFY(flasher.connect(esptool::BeforeReset::noReset));
    QVERIFY(flasher.attachFlash());
    const QList<esptool::FlashRegion> regions{{0x0, QByteArray(1024, '\x42'), u"data.bin"_s}};
    const esptool::Status written =
        flasher.writeFlash(regions, esptool::WriteSettings{true, {}, {}, {}});
    QVERIFY(!written);
    if (found.isEmpty()) {
        QCOMPARE(written.error().kind, ErrorKind::garbledReply);
        return;
    }
    QCOMPARE(written.error().kind, ErrorKind::md5Mismatch);
    QVERIFY2(written.error().message.contains(found), qPrintable(written.error().message));
    QVERIFY(
        observer.infos.join(u'\n').contains(u"Flash: manufacturer ef, device 4016, size 4MB"_s));
    QCOMPARE(observer.progressSeen.last().bytesDone, 1024);
}

QTEST_APPLESS_MAIN(TestFlasher)
#include "tst_flasher.moc"
