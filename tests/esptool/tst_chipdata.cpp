#include "flasher/ChipInfo.h"
#include "flasher/FlashParameters.h"
#include "flasher/SecurityGuard.h"

#include <QCryptographicHash>
#include <QTest>
#include <QtEndian>

using namespace Qt::StringLiterals;
using esptool::EfuseWords;
namespace flash = esptool::flash;
using Kind = flash::PatchOutcome::Kind;
using Mode = flash::Mode;
using Frequency = flash::Frequency;

namespace {

namespace efuse = esptool::efuse;

// A value for one named eFuse field.
struct Fuse
{
    efuse::Field field;
    quint32 value;
};

void burn(EfuseWords& words, const Fuse& fuse)
{
    quint32& word = words.words[static_cast<std::size_t>(fuse.field.word)];
    const quint32 mask = ((1u << fuse.field.width) - 1) << fuse.field.low;
    word = (word & ~mask) | ((fuse.value << fuse.field.low) & mask);
}

// A chip with these fields burnt, and revision bit 2 (in APB_CTL_DATE) as given; its MAC is
// 24:0a:c4:12:34:56 and its CK8M trim 100.
EfuseWords fused(std::initializer_list<Fuse> fuses, bool revisionBit2 = false)
{
    EfuseWords words;
    words.words = {0, 0xC4123456, 0x0000240A, 0, 0x00000064, 0, 0};
    for (const Fuse& fuse : fuses)
        burn(words, fuse);
    words.apbCtlDate = revisionBit2 ? 1u << efuse::apbCtlDateRevisionBit2 : 0;
    return words;
}

// An ESP32-D0WD-V3, revision v3.1, rated for 240 MHz, with the fields given on top.
EfuseWords d0wdV3(std::initializer_list<Fuse> more = {})
{
    EfuseWords words = fused({{efuse::packageLowBits, 1},
                              {efuse::cpuFrequencyRated, 1},
                              {efuse::revisionBit0, 1},
                              {efuse::revisionBit1, 1},
                              {efuse::minorRevision, 1}},
                             true);
    for (const Fuse& fuse : more)
        burn(words, fuse);
    return words;
}

constexpr quint32 mib = 1024 * 1024;

enum class Sample
{
    image,        // header (QIO, 4MB, 40 MHz), one segment, checksum unit
    withDigest,   // the same with the SHA-256 appended
    text,         // not an image
    truncated,    // right magic, but the segment runs past the end
    digestAbsent  // says it carries a digest that is not there
};

QByteArray sample(Sample kind)
{
    if (kind == Sample::text)
        return QByteArray(64, 'x');
    QByteArray image(24, '\0');
    image[0] = '\xE9';
    image[1] = 1;
    image[3] = 0x20;
    image[23] = kind == Sample::withDigest || kind == Sample::digestAbsent ? 1 : 0;
    char header[8];
    qToLittleEndian<quint32>(0x3FFB0000, header);
    qToLittleEndian<quint32>(37, header + 4);
    image.append(header, 8).append(QByteArray(37, '\x5A'));
    image.append(15 - image.size() % 16, '\0').append('\xEF');
    if (kind == Sample::withDigest)
        image.append(QCryptographicHash::hash(image, QCryptographicHash::Sha256));
    return kind == Sample::truncated ? image.left(40) : image;
}

}  // namespace

class TestChipData : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void describes_data();
    void describes();
    void crystal();
    void baudCorrection_data();
    void baudCorrection();
    void spiPins();
    void jedecIds_data();
    void jedecIds();
    void sizeNames_data();
    void sizeNames();
    void headerPatch_data();
    void headerPatch();
    void securityFusesDecoded_data();
    void securityFusesDecoded();
    void guardedWrites_data();
    void guardedWrites();
    void guardedErases_data();
    void guardedErases();
};

void TestChipData::describes_data()
{
    using esptool::efuse::packageLowBits;
    QTest::addColumn<EfuseWords>("words");
    QTest::addColumn<QString>("description");  // package, revision, features
    const QString dual = u"BT, dual core, coding scheme None"_s;
    const Fuse revision0{efuse::revisionBit0, 1};
    QTest::newRow("D0WD-V3 v3.1, rated 240 MHz")
        << d0wdV3() << u"ESP32-D0WD-V3 v3.1 Wi-Fi, BT, dual core, 240 MHz, coding scheme None"_s;
    QTest::newRow("D0WDQ6 v0.0") << fused({}) << u"ESP32-D0WDQ6 v0.0 Wi-Fi, "_s + dual;
    QTest::newRow("D0WDQ6-V3") << fused({revision0, {efuse::revisionBit1, 1}}, true)
                               << u"ESP32-D0WDQ6-V3 v3.0 Wi-Fi, "_s + dual;
    // Revision bits b2 b1 b0 = 0 1 1 are v2.
    QTest::newRow("S0WDQ6 v2.2, single core, no BT, 160 MHz")
        << fused({{efuse::appCpuDisabled, 1},
                  {efuse::bluetoothDisabled, 1},
                  {efuse::cpuFrequencyLow, 1},
                  {efuse::cpuFrequencyRated, 1},
                  revision0,
                  {efuse::revisionBit1, 1},
                  {efuse::minorRevision, 2}})
        << u"ESP32-S0WDQ6 v2.2 Wi-Fi, single core, 160 MHz, coding scheme None"_s;
    QTest::newRow("PICO-D4 v1.0") << fused({{packageLowBits, 5}, revision0})
                                  << u"ESP32-PICO-D4 v1.0 Wi-Fi, "_s + dual;
    QTest::newRow("PICO-V3") << d0wdV3({{packageLowBits, 5}, {efuse::cpuFrequencyRated, 0}})
                             << u"ESP32-PICO-V3 v3.1 Wi-Fi, "_s + dual;
    QTest::newRow("PICO-V3-02") << d0wdV3({{packageLowBits, 6}, {efuse::cpuFrequencyRated, 0}})
                                << u"ESP32-PICO-V3-02 v3.1 Wi-Fi, "_s + dual;
    QTest::newRow("package bit 3")
        << d0wdV3({{packageLowBits, 0}, {efuse::packageBit3, 1}, {efuse::cpuFrequencyRated, 0}})
        << u"unknown ESP32 package v3.1 Wi-Fi, "_s + dual;
    // Revision bits b2 b1 b0 = 0 1 0 and 1 0 1 name no revision.
    QTest::newRow("bits 010") << fused({{packageLowBits, 1}, {efuse::revisionBit1, 1}})
                              << u"ESP32-D0WD v0.0 Wi-Fi, "_s + dual;
    QTest::newRow("bits 101, minor 3")
        << fused({{packageLowBits, 1}, revision0, {efuse::minorRevision, 3}}, true)
        << u"ESP32-D0WD v0.3 Wi-Fi, "_s + dual;
    QTest::newRow("3/4 coding") << d0wdV3({{efuse::codingScheme, 1}})
                                << u"ESP32-D0WD-V3 v3.1 Wi-Fi, BT, dual core, 240 MHz, coding "
                                   "scheme 3/4"_s;
}

void TestChipData::describes()
{
    QFETCH(EfuseWords, words);
    QFETCH(QString, description);
    const esptool::ChipDescription chip = esptool::describeChip(words);
    QCOMPARE(u"%1 %2 %3"_s.arg(chip.package, chip.revisionText(), chip.features.join(u", "_s)),
             description);
    QCOMPARE(chip.macText(), u"24:0a:c4:12:34:56"_s);
}

void TestChipData::crystal()
{
    // The UART divider the ROM picked for 115200 baud; bits above 19 are not the divider.
    QCOMPARE(esptool::crystalMhz(347, 115200), 40);
    QCOMPARE(esptool::crystalMhz(226, 115200), 26);
    QCOMPARE(esptool::crystalMhz(417, 115200), 48);
    QCOMPARE(esptool::crystalMhz(347 | 0xFFF00000u, 115200), 40);
}

void TestChipData::baudCorrection_data()
{
    QTest::addColumn<quint32>("requested");
    QTest::addColumn<quint32>("cali");
    QTest::addColumn<quint32>("ck8m");
    QTest::addColumn<quint32>("sent");
    // A chip whose clock estimate comes out at 38.728125 MHz (cali 972, CK8M trim 102): the
    // captured request for 460800 baud carried 0x0006CEC4.
    QTest::newRow("hardware example") << 460800u << (972u << 7) << 102u << 446148u;
    // cali 1024 and trim 100 give exactly 40 MHz; exactly 26 MHz counts against 26.
    QTest::newRow("exact 40 MHz") << 1500000u << (1024u << 7) << 100u << 1500000u;
    QTest::newRow("exact 26 MHz") << 921600u << (832u << 7) << 80u << 921600u;
    QTest::newRow("bits outside the fields")
        << 460800u << (972u << 7 | 0x7F) << 0xFFFFFF66u << 446148u;
    QTest::newRow("no calibration") << 921600u << 0u << 100u << 921600u;
    QTest::newRow("no trim") << 921600u << (1024u << 7) << 0u << 921600u;
    QTest::newRow("largest fields do not overflow")
        << 5000000u << 0xFFFFFF80u << 0xFFu << 0xFFFFFFFFu;
}

void TestChipData::baudCorrection()
{
    QFETCH(quint32, requested);
    QFETCH(quint32, cali);
    QFETCH(quint32, ck8m);
    QFETCH(quint32, sent);
    QCOMPARE(esptool::correctedBaud(requested, cali, ck8m), sent);
}

void TestChipData::spiPins()
{
    QCOMPARE(esptool::spiPinConfig(d0wdV3()), 0u);
    const EfuseWords pads = d0wdV3({{efuse::spiPadClk, 6},
                                    {efuse::spiPadQ, 7},
                                    {efuse::spiPadD, 8},
                                    {efuse::spiPadCs, 11},
                                    {efuse::spiPadHd, 9}});
    QCOMPARE(esptool::spiPinConfig(pads), 9u << 24 | 11u << 18 | 8u << 12 | 7u << 6 | 6u);
}

void TestChipData::jedecIds_data()
{
    QTest::addColumn<quint32>("id");
    QTest::addColumn<quint32>("size");  // 0: no size known
    QTest::addColumn<bool>("absent");   // no flash chip answered at all
    QTest::newRow("Winbond W25Q32") << 0x1640EFu << 4 * mib << false;
    QTest::newRow("capacity 0x12") << 0x1240EFu << 256u * 1024 << false;
    QTest::newRow("capacity 0x1C") << 0x1C40EFu << 256 * mib << false;
    QTest::newRow("capacity 0x20") << 0x2040EFu << 64 * mib << false;
    QTest::newRow("capacity 0x22") << 0x2240EFu << 256 * mib << false;
    QTest::newRow("capacity 0x32") << 0x3260C2u << 256u * 1024 << false;
    QTest::newRow("capacity 0x3A") << 0x3A60C2u << 64 * mib << false;
    QTest::newRow("gap 0x1D") << 0x1D40EFu << 0u << false;
    QTest::newRow("gap 0x23") << 0x2340EFu << 0u << false;
    QTest::newRow("below 0x12") << 0x1140EFu << 0u << false;
    QTest::newRow("above 0x3A") << 0x3B60C2u << 0u << false;
    // Adesto: the size code is in the low five bits of the memory type.
    QTest::newRow("Adesto 512KB") << 0x01441Fu << 512u * 1024 << false;
    QTest::newRow("Adesto 16MB") << 0x16491Fu << 16 * mib << false;
    QTest::newRow("Adesto unknown code") << 0x16431Fu << 0u << false;
    QTest::newRow("all zeros") << 0x000000u << 0u << true;
    QTest::newRow("all ones") << 0xFFFFFFu << 0u << true;
    QTest::newRow("floating bus") << 0xFFFF3Fu << 0u << true;
}

void TestChipData::jedecIds()
{
    QFETCH(quint32, id);
    QFETCH(quint32, size);
    QFETCH(bool, absent);
    QCOMPARE(flash::sizeFromJedecId(id).value_or(0), size);
    QCOMPARE(flash::jedecIdLooksAbsent(id), absent);
}

void TestChipData::sizeNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<quint32>("bytes");  // 0: not a size the flasher takes
    QTest::newRow("1MB") << u"1MB"_s << mib;
    QTest::newRow("4mb") << u"4mb"_s << 4 * mib;
    QTest::newRow("16MB") << u"16MB"_s << 16 * mib;
    QTest::newRow("3MB") << u"3MB"_s << 0u;
    QTest::newRow("4") << u"4"_s << 0u;
}

void TestChipData::sizeNames()
{
    QFETCH(QString, name);
    QFETCH(quint32, bytes);
    QCOMPARE(flash::sizeFromName(name).value_or(0), bytes);
}

void TestChipData::headerPatch_data()
{
    QTest::addColumn<Sample>("sample");
    QTest::addColumn<quint32>("address");
    QTest::addColumn<flash::HeaderPatch>("patch");
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<int>("parameters");  // header bytes 2 and 3 afterwards
    const flash::HeaderPatch dio{Mode::dio, Frequency::mhz80, 4 * mib};
    QTest::newRow("dio 80m 4MB") << Sample::image << 0x1000u << dio << Kind::patched << 0x022F;
    QTest::newRow("dout 26m 16MB")
        << Sample::image << 0x1000u << flash::HeaderPatch{Mode::dout, Frequency::mhz26, 16 * mib}
        << Kind::patched << 0x0341;
    QTest::newRow("qout 20m 1MB") << Sample::image << 0x1000u
                                  << flash::HeaderPatch{Mode::qout, Frequency::mhz20, mib}
                                  << Kind::patched << 0x0102;
    QTest::newRow("keep mode, 40m, 8MB")
        << Sample::image << 0x1000u << flash::HeaderPatch{Mode::keep, Frequency::mhz40, 8 * mib}
        << Kind::patched << 0x0030;
    QTest::newRow("qio, keep the rest")
        << Sample::image << 0x1000u << flash::HeaderPatch{Mode::qio, Frequency::keep, {}}
        << Kind::patched << 0x0020;
    QTest::newRow("digest follows")
        << Sample::withDigest << 0x1000u << dio << Kind::patched << 0x022F;
    QTest::newRow("keep everything")
        << Sample::image << 0x1000u << flash::HeaderPatch{} << Kind::notApplicable << 0x0020;
    QTest::newRow("image at 0x10000")
        << Sample::image << 0x10000u << dio << Kind::notApplicable << 0x0020;
    QTest::newRow("not an image") << Sample::text << 0x1000u << dio << Kind::notAnImage << 0x7878;
    QTest::newRow("segment past the end")
        << Sample::truncated << 0x1000u << dio << Kind::notAnImage << 0x0020;
    QTest::newRow("digest announced, absent")
        << Sample::digestAbsent << 0x1000u << dio << Kind::notAnImage << 0x0020;
}

void TestChipData::headerPatch()
{
    QFETCH(Sample, sample);
    QFETCH(quint32, address);
    QFETCH(flash::HeaderPatch, patch);
    QFETCH(Kind, kind);
    QFETCH(int, parameters);
    const QByteArray original = ::sample(sample);
    QByteArray image = original;
    const flash::PatchOutcome outcome = flash::patchImageHeader(image, address, patch);
    QCOMPARE(outcome.kind, kind);
    QCOMPARE(quint8(image[2]) << 8 | quint8(image[3]), parameters);
    const bool digest = sample == Sample::withDigest && kind == Kind::patched;
    QCOMPARE(outcome.digestUpdated, digest);
    const qsizetype body = image.size() - (digest ? 32 : 0);
    QCOMPARE(image.mid(4, body - 4), original.mid(4, body - 4));
    if (digest) {
        QCOMPARE(image.mid(body),
                 QCryptographicHash::hash(image.left(body), QCryptographicHash::Sha256));
    }
}

// The words as the protocol document lays the fields out, so that a field misplaced in the
// table is caught (the other tests name the fields).
void TestChipData::securityFusesDecoded_data()
{
    QTest::addColumn<quint32>("word0");
    QTest::addColumn<quint32>("word6");
    QTest::addColumn<bool>("encryption");
    QTest::addColumn<bool>("secureBootV1");
    QTest::addColumn<bool>("secureBootV2");
    QTest::addColumn<bool>("downloadEncryptOff");
    QTest::newRow("none") << 0u << 0u << false << false << false << false;
    QTest::newRow("FLASH_CRYPT_CNT one bit") << (1u << 20) << 0u << true << false << false << false;
    // Every bit set once more switches it back off: an even count is off again.
    QTest::newRow("FLASH_CRYPT_CNT two bits")
        << (3u << 20) << 0u << false << false << false << false;
    QTest::newRow("FLASH_CRYPT_CNT all seven")
        << (0x7Fu << 20) << 0u << true << false << false << false;
    QTest::newRow("bits next to the field")
        << (1u << 19 | 1u << 27) << 0u << false << false << false << false;
    QTest::newRow("ABS_DONE_0") << 0u << (1u << 4) << false << true << false << false;
    QTest::newRow("ABS_DONE_1") << 0u << (1u << 5) << false << false << true << false;
    QTest::newRow("DISABLE_DL_ENCRYPT") << 0u << (1u << 7) << false << false << false << true;
    QTest::newRow("coding scheme bits are none of them")
        << 0u << 3u << false << false << false << false;
}

void TestChipData::securityFusesDecoded()
{
    QFETCH(quint32, word0);
    QFETCH(quint32, word6);
    EfuseWords words = d0wdV3();
    words.words[0] = word0;
    words.words[6] = word6;
    const esptool::SecurityFuses fuses = esptool::securityFuses(words);
    QTEST(fuses.flashEncryption, "encryption");
    QTEST(fuses.secureBootV1, "secureBootV1");
    QTEST(fuses.secureBootV2, "secureBootV2");
    QTEST(fuses.downloadEncryptOff, "downloadEncryptOff");
}

namespace {

esptool::SecurityFuses fuses(bool encryption, bool v1, bool v2, bool releaseMode)
{
    return esptool::SecurityFuses{encryption ? 1u : 0u, encryption, v1, v2, releaseMode};
}

// A merged image as the app writes it: bootloader at 0x1000, a partition table at 0x8000 whose
// one application partition starts at 0x10000, and the application there.
QByteArray mergedImage()
{
    QByteArray image(0x11000, '\xFF');
    image[0x1000] = '\xE9';
    QByteArray entry = "\xAA\x50\x00\x00"_ba;
    char offset[4];
    qToLittleEndian<quint32>(0x10000, offset);
    entry.append(offset, 4).append(QByteArray(24, '\0'));
    image.replace(0x8000, entry.size(), entry);
    image[0x10000] = '\xE9';
    return image;
}

}  // namespace

void TestChipData::guardedWrites_data()
{
    using Regions = QList<esptool::FlashRegion>;
    QTest::addColumn<esptool::SecurityFuses>("fuses");
    QTest::addColumn<Regions>("regions");
    QTest::addColumn<QString>("refusal");  // a part of it; empty: allowed
    QTest::addColumn<int>("warnings");
    const Regions merged{{0x0, mergedImage(), u"merged.bin"_s}};
    const Regions appOnly{{0x10000, "\xE9\x03"_ba + QByteArray(100, '\x01'), u"app.bin"_s}};
    const Regions encryptedOnHost{{0x10000, QByteArray(4096, '\x5C'), u"app-enc.bin"_s}};
    QByteArray tableOnly = mergedImage().mid(0x8000, 0x1000);
    const Regions partitionTable{{0x8000, tableOnly, u"table.bin"_s},
                                 {0x10000, "\xE9"_ba + QByteArray(15, '\0'), u"app.bin"_s}};

    QTest::newRow("nothing burnt") << fuses(false, false, false, false) << merged << QString() << 0;
    QTest::newRow("encrypted board, the app's merged image")
        << fuses(true, false, false, false) << merged
        << u"plain bootloader at 0x1000, partition table at 0x8000, application at 0x10000"_s << 0;
    QTest::newRow("encrypted board, an application on its own")
        << fuses(true, false, false, false) << appOnly << u"plain application at 0x10000"_s << 0;
    QTest::newRow("encrypted board, a table naming an application elsewhere in the data")
        << fuses(true, false, false, false) << partitionTable
        << u"plain partition table at 0x8000, application at 0x10000"_s << 0;
    QTest::newRow("encrypted board, data encrypted on the host")
        << fuses(true, false, false, false) << encryptedOnHost << QString() << 1;
    QTest::newRow("Secure Boot V1, anything below 0x8000")
        << fuses(false, true, false, false) << merged << u"Secure Boot V1 (ABS_DONE_0)"_s << 0;
    QTest::newRow("Secure Boot V2, anything below 0x8000")
        << fuses(false, false, true, false) << merged << u"writing merged.bin at 0x0"_s << 0;
    QTest::newRow("Secure Boot V2, an application above it")
        << fuses(false, false, true, false) << appOnly << QString() << 0;
}

void TestChipData::guardedWrites()
{
    QFETCH(esptool::SecurityFuses, fuses);
    QFETCH(QList<esptool::FlashRegion>, regions);
    QFETCH(QString, refusal);
    QFETCH(int, warnings);
    const esptool::GuardVerdict verdict = esptool::guardWrite(fuses, regions, u"/dev/ttyUSB0"_s);
    QCOMPARE(verdict.refusal.has_value(), !refusal.isEmpty());
    QCOMPARE(verdict.warnings.size(), warnings);
    if (!refusal.isEmpty()) {
        const esptool::FlasherError& error = *verdict.refusal;
        QCOMPARE(error.kind, esptool::ErrorKind::protectedBoard);
        QVERIFY2(error.message.contains(refusal), qPrintable(error.message));
        QVERIFY(error.message.contains(u"/dev/ttyUSB0"_s));
        QVERIFY(error.message.contains(u"unable to boot"_s) ||
                error.message.contains(u"no longer boot"_s));
        QVERIFY(error.hint.contains(u"--force"_s));
    }
}

void TestChipData::guardedErases_data()
{
    QTest::addColumn<esptool::SecurityFuses>("fuses");
    QTest::addColumn<QString>("refusal");  // a part of it; empty: allowed
    QTest::addColumn<int>("warnings");
    QTest::newRow("nothing burnt") << fuses(false, false, false, false) << QString() << 0;
    QTest::newRow("Secure Boot V1")
        << fuses(false, true, false, false) << u"no bootloader can ever be written again"_s << 0;
    QTest::newRow("Secure Boot V2: signed images restore it")
        << fuses(false, false, true, false) << QString() << 1;
    QTest::newRow("encryption in development mode")
        << fuses(true, false, false, false) << QString() << 1;
    QTest::newRow("encryption in release mode")
        << fuses(true, false, false, true) << u"DISABLE_DL_ENCRYPT"_s << 0;
    QTest::newRow("release mode, encryption off again")
        << fuses(false, false, false, true) << QString() << 0;
}

void TestChipData::guardedErases()
{
    QFETCH(esptool::SecurityFuses, fuses);
    QFETCH(QString, refusal);
    QFETCH(int, warnings);
    const esptool::GuardVerdict verdict = esptool::guardErase(fuses, u"/dev/ttyUSB0"_s);
    QCOMPARE(verdict.refusal.has_value(), !refusal.isEmpty());
    QCOMPARE(verdict.warnings.size(), warnings);
    if (!refusal.isEmpty())
        QVERIFY2(verdict.refusal->message.contains(refusal), qPrintable(verdict.refusal->message));
}

QTEST_APPLESS_MAIN(TestChipData)
#include "tst_chipdata.moc"
