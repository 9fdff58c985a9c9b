#include "flasher/FlashParameters.h"

#include <QCryptographicHash>
#include <QTest>
#include <QtEndian>

#include <optional>

using namespace Qt::StringLiterals;
namespace flash = esptool::flash;
using Kind = flash::PatchOutcome::Kind;

namespace {

constexpr quint32 mib = 1024 * 1024;

// A minimal ESP32 image: header, extended header, one segment, padding with the checksum as
// the last byte of a 16-byte unit, and optionally the appended SHA-256.
QByteArray makeImage(bool withDigest)
{
    QByteArray image(24, '\0');
    image[0] = '\xE9';
    image[1] = 1;
    image[2] = 0x00;  // QIO
    image[3] = 0x20;  // 4MB, 40 MHz
    image[23] = withDigest ? 1 : 0;
    const QByteArray segment(37, '\x5A');
    char header[8];
    qToLittleEndian<quint32>(0x3FFB0000, header);
    qToLittleEndian<quint32>(quint32(segment.size()), header + 4);
    image.append(header, 8);
    image.append(segment);
    image.append(15 - image.size() % 16, '\0');
    image.append('\xEF');  // checksum byte, value irrelevant here
    if (withDigest)
        image.append(QCryptographicHash::hash(image, QCryptographicHash::Sha256));
    return image;
}

}  // namespace

class TestFlashParameters : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void sizeFromJedecId_data();
    void sizeFromJedecId();
    void absentFlashIds();
    void sizeNames_data();
    void sizeNames();
    void patchAtBootloaderOffset_data();
    void patchAtBootloaderOffset();
    void imageAtZeroIsNeverPatched();
    void keepChangesNothing();
    void notAnImageIsLeftAlone();
    void digestFollowsThePatch();
};

void TestFlashParameters::sizeFromJedecId_data()
{
    QTest::addColumn<quint32>("id");
    QTest::addColumn<std::optional<quint32>>("size");
    QTest::newRow("Winbond W25Q32 4MB") << quint32(0x1640EF) << std::optional<quint32>(4 * mib);
    QTest::newRow("capacity 0x12 256KB") << quint32(0x1240EF) << std::optional<quint32>(256 * 1024);
    QTest::newRow("capacity 0x14 1MB") << quint32(0x1440C8) << std::optional<quint32>(mib);
    QTest::newRow("capacity 0x15 2MB") << quint32(0x1540C8) << std::optional<quint32>(2 * mib);
    QTest::newRow("capacity 0x17 8MB") << quint32(0x174020) << std::optional<quint32>(8 * mib);
    QTest::newRow("capacity 0x18 16MB") << quint32(0x1840EF) << std::optional<quint32>(16 * mib);
    QTest::newRow("capacity 0x1C 256MB") << quint32(0x1C40EF) << std::optional<quint32>(256 * mib);
    QTest::newRow("capacity 0x20 64MB") << quint32(0x2040EF) << std::optional<quint32>(64 * mib);
    QTest::newRow("capacity 0x22 256MB") << quint32(0x2240EF) << std::optional<quint32>(256 * mib);
    QTest::newRow("capacity 0x32 256KB") << quint32(0x3260C2) << std::optional<quint32>(256 * 1024);
    QTest::newRow("capacity 0x36 4MB") << quint32(0x3660C2) << std::optional<quint32>(4 * mib);
    QTest::newRow("capacity 0x3A 64MB") << quint32(0x3A60C2) << std::optional<quint32>(64 * mib);
    QTest::newRow("gap 0x1D") << quint32(0x1D40EF) << std::optional<quint32>();
    QTest::newRow("gap 0x23") << quint32(0x2340EF) << std::optional<quint32>();
    QTest::newRow("below 0x12") << quint32(0x1140EF) << std::optional<quint32>();
    QTest::newRow("above 0x3A") << quint32(0x3B60C2) << std::optional<quint32>();
    // Adesto: size code in the low five bits of the memory type, capacity byte ignored.
    QTest::newRow("Adesto 512KB") << quint32(0x01441F) << std::optional<quint32>(512 * 1024);
    QTest::newRow("Adesto 4MB") << quint32(0x01471F) << std::optional<quint32>(4 * mib);
    QTest::newRow("Adesto 16MB") << quint32(0x16491F) << std::optional<quint32>(16 * mib);
    QTest::newRow("Adesto unknown code") << quint32(0x16431F) << std::optional<quint32>();
}

void TestFlashParameters::sizeFromJedecId()
{
    QFETCH(quint32, id);
    QFETCH(std::optional<quint32>, size);
    QCOMPARE(flash::sizeFromJedecId(id), size);
}

void TestFlashParameters::absentFlashIds()
{
    QVERIFY(flash::jedecIdLooksAbsent(0x000000));
    QVERIFY(flash::jedecIdLooksAbsent(0xFFFFFF));
    QVERIFY(flash::jedecIdLooksAbsent(0xFFFF3F));
    QVERIFY(!flash::jedecIdLooksAbsent(0x1640EF));
}

void TestFlashParameters::sizeNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<std::optional<quint32>>("bytes");
    QTest::newRow("1MB") << u"1MB"_s << std::optional<quint32>(mib);
    QTest::newRow("2MB") << u"2MB"_s << std::optional<quint32>(2 * mib);
    QTest::newRow("4mb") << u"4mb"_s << std::optional<quint32>(4 * mib);
    QTest::newRow("8MB") << u"8MB"_s << std::optional<quint32>(8 * mib);
    QTest::newRow("16MB") << u"16MB"_s << std::optional<quint32>(16 * mib);
    QTest::newRow("3MB") << u"3MB"_s << std::optional<quint32>();
    QTest::newRow("32MB") << u"32MB"_s << std::optional<quint32>();
    QTest::newRow("4") << u"4"_s << std::optional<quint32>();
}

void TestFlashParameters::sizeNames()
{
    QFETCH(QString, name);
    QFETCH(std::optional<quint32>, bytes);
    QCOMPARE(flash::sizeFromName(name), bytes);
    if (bytes)
        QCOMPARE(flash::sizeName(*bytes), name.toUpper());
}

void TestFlashParameters::patchAtBootloaderOffset_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("frequency");
    QTest::addColumn<quint32>("size");
    QTest::addColumn<int>("parameters");
    QTest::newRow("dio 80m 4MB") << int(flash::Mode::dio) << int(flash::Frequency::mhz80) << 4 * mib
                                 << 0x022F;
    QTest::newRow("dout 26m 16MB")
        << int(flash::Mode::dout) << int(flash::Frequency::mhz26) << 16 * mib << 0x0341;
    QTest::newRow("qout 20m 1MB") << int(flash::Mode::qout) << int(flash::Frequency::mhz20) << mib
                                  << 0x0102;
    QTest::newRow("keep mode, 40m, 8MB")
        << int(flash::Mode::keep) << int(flash::Frequency::mhz40) << 8 * mib << 0x0030;
    QTest::newRow("qio, keep freq and size")
        << int(flash::Mode::qio) << int(flash::Frequency::keep) << 0u << 0x0020;
}

void TestFlashParameters::patchAtBootloaderOffset()
{
    QFETCH(int, mode);
    QFETCH(int, frequency);
    QFETCH(quint32, size);
    QFETCH(int, parameters);
    QByteArray image = makeImage(false);
    const QByteArray original = image;
    const flash::HeaderPatch patch{flash::Mode(mode), flash::Frequency(frequency),
                                   size ? std::optional<quint32>(size) : std::nullopt};
    const flash::PatchOutcome outcome = flash::patchImageHeader(image, 0x1000, patch);
    QCOMPARE(outcome.kind, Kind::patched);
    QCOMPARE(int(outcome.parameters), parameters);
    QCOMPARE(quint8(image[2]), quint8(parameters >> 8));
    QCOMPARE(quint8(image[3]), quint8(parameters & 0xFF));
    QCOMPARE(image.mid(4), original.mid(4));
    QVERIFY(!outcome.digestUpdated);
}

void TestFlashParameters::imageAtZeroIsNeverPatched()
{
    QByteArray image = makeImage(true);
    const QByteArray original = image;
    const flash::HeaderPatch patch{flash::Mode::dio, flash::Frequency::mhz80, 4 * mib};
    for (const quint32 address : {0x0u, 0x8000u, 0x10000u}) {
        QCOMPARE(flash::patchImageHeader(image, address, patch).kind, Kind::notApplicable);
        QCOMPARE(image, original);
    }
}

void TestFlashParameters::keepChangesNothing()
{
    QByteArray image = makeImage(false);
    const QByteArray original = image;
    QCOMPARE(flash::patchImageHeader(image, 0x1000, flash::HeaderPatch{}).kind,
             Kind::notApplicable);
    QCOMPARE(image, original);
}

void TestFlashParameters::notAnImageIsLeftAlone()
{
    const flash::HeaderPatch patch{flash::Mode::dio, flash::Frequency::mhz80, 4 * mib};
    QByteArray text = QByteArray(64, 'x');
    QCOMPARE(flash::patchImageHeader(text, 0x1000, patch).kind, Kind::notAnImage);
    QCOMPARE(text, QByteArray(64, 'x'));
    // Right magic, but the segment runs past the end of the file.
    QByteArray truncated = makeImage(false).left(40);
    const QByteArray before = truncated;
    QCOMPARE(flash::patchImageHeader(truncated, 0x1000, patch).kind, Kind::notAnImage);
    QCOMPARE(truncated, before);
    // Says it carries a digest that is not there.
    QByteArray noDigest = makeImage(false);
    noDigest[23] = 1;
    QCOMPARE(flash::patchImageHeader(noDigest, 0x1000, patch).kind, Kind::notAnImage);
}

void TestFlashParameters::digestFollowsThePatch()
{
    QByteArray image = makeImage(true);
    const qsizetype end = image.size() - 32;
    const flash::HeaderPatch patch{flash::Mode::dio, flash::Frequency::mhz80, 4 * mib};
    const flash::PatchOutcome outcome = flash::patchImageHeader(image, 0x1000, patch);
    QCOMPARE(outcome.kind, Kind::patched);
    QVERIFY(outcome.digestUpdated);
    QCOMPARE(image.mid(end), QCryptographicHash::hash(image.left(end), QCryptographicHash::Sha256));
}

QTEST_APPLESS_MAIN(TestFlashParameters)
#include "tst_flashparameters.moc"
