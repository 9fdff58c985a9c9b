#include "DemoFirmware.h"

#include "DeterministicRandom.h"
#include "EspImage.h"
#include "PartitionTable.h"

#include <QCryptographicHash>
#include <QList>
#include <QtEndian>

#include <array>

namespace demofirmware {

namespace {

constexpr quint64 seed = 0x5441564958323032ULL;  // "TAVIX202"
constexpr qsizetype kibibyte = 1024;

// Memory map of the original ESP32 used for the segments' load addresses.
constexpr quint32 bootDram = 0x3FFF0030;
constexpr quint32 bootIramLoader = 0x40078000;
constexpr quint32 bootIram = 0x40080400;
constexpr quint32 bootEntry = 0x4008066C;
constexpr quint32 appDrom = 0x3F400020;
constexpr quint32 appDram = 0x3FFB0000;
constexpr quint32 appIram = 0x40080000;
constexpr quint32 appIromBase = 0x400D0000;
constexpr quint32 appEntry = 0x40081F5C;
constexpr quint32 mmuPage = 0x10000;

constexpr quint32 appDescriptionMagic = 0xABCD5432;
constexpr qsizetype appDescriptionLength = 256;

// Instruction-like words drawn with a skewed distribution: a few dozen very common ones, a
// long tail of rare ones, and literal-pool pointers in between. Level-9 zlib takes such a
// stream to about 60 %, close to what it does with real ESP32 code.
constexpr int instructionVocabulary = 1000;
constexpr quint32 literalPercent = 10;

QByteArray code(DeterministicRandom& rng, qsizetype size)
{
    static const std::array<quint32, instructionVocabulary> vocabulary = [] {
        std::array<quint32, instructionVocabulary> words{};
        DeterministicRandom wordRng(seed ^ 0xC0DE);
        for (quint32& w : words)
            w = quint32(wordRng.next() & 0xFFFFFF);
        return words;
    }();
    QByteArray out;
    out.reserve(size + 4);
    while (out.size() < size) {
        const quint32 roll = rng.below(100);
        if (roll < literalPercent) {
            // A literal pool entry: a pointer into DROM or IROM.
            const quint32 base = rng.below(2) ? appDrom : appIromBase;
            const quint32 pointer = base + (rng.below(0x40000) & ~3U);
            char b[4];
            qToLittleEndian(pointer, b);
            out.append(b, 4);
            continue;
        }
        // Skewed index: u^6 puts most picks near the front of the vocabulary.
        const double u = double(rng.below(1U << 20)) / double(1U << 20);
        const double u3 = u * u * u;
        const auto index = qsizetype(u3 * u3 * instructionVocabulary);
        const quint32 word = vocabulary.at(std::size_t(index));
        const bool narrow = (word & 0x8) != 0;  // 16-bit "narrow" instructions
        out.append(char(word & 0xFF)).append(char((word >> 8) & 0xFF));
        if (!narrow)
            out.append(char((word >> 16) & 0xFF));
    }
    out.resize(size);
    return out;
}

QByteArray text(DeterministicRandom& rng, qsizetype size)
{
    static const std::array<const char*, 48> words = {
        "wifi",    "sta",  "connect",   "failed",  "timeout", "init",    "display", "touch",
        "axp192",  "rtc",  "i2c",       "spi",     "lcd",     "buffer",  "error",   "ok",
        "retry",   "%d",   "%s",        "0x%08x",  "task",    "queue",   "heap",    "free",
        "mqtt",    "http", "server",    "client",  "button",  "event",   "sensor",  "value",
        "speaker", "mic",  "imu",       "battery", "charge",  "voltage", "uiflow",  "tavix",
        "config",  "nvs",  "partition", "flash",   "update",  "version", "start",   "done"};
    static const std::array<const char*, 4> levels = {"E (%u) ", "W (%u) ", "I (%u) ", "D (%u) "};
    QByteArray out;
    while (out.size() < size) {
        out.append(levels.at(rng.below(levels.size())));
        out.append(words.at(rng.below(words.size())));
        out.append(": ");
        const quint32 count = 2 + rng.below(6);
        for (quint32 i = 0; i < count; ++i) {
            if (i > 0)
                out.append(' ');
            out.append(words.at(rng.below(words.size())));
        }
        out.append('\n').append('\0');
    }
    out.resize(size);
    return out;
}

// Compressed pictures, fonts and sounds: no redundancy left.
QByteArray assets(DeterministicRandom& rng, qsizetype size)
{
    QByteArray out(size, Qt::Uninitialized);
    for (char& c : out)
        c = char(rng.byte());
    return out;
}

// Initialised data: small integers, flags and long zero runs.
QByteArray data(DeterministicRandom& rng, qsizetype size)
{
    QByteArray out;
    while (out.size() < size) {
        if (rng.below(4) == 0) {
            out.append(qsizetype(4) * (1 + rng.below(16)), '\0');
        } else {
            char b[4];
            qToLittleEndian(rng.below(rng.below(2) ? 256 : 65536), b);
            out.append(b, 4);
        }
    }
    out.resize(size);
    return out;
}

QByteArray fixedString(const char* s, qsizetype length)
{
    QByteArray out(s);
    out.append(length - out.size(), '\0');
    return out;
}

QByteArray appDescription()
{
    QByteArray d;
    char b[4];
    qToLittleEndian(appDescriptionMagic, b);
    d.append(b, 4);
    d.append(4 + 8, '\0');  // secure version, reserved
    d.append(fixedString("V2.2", 32));
    d.append(fixedString("UIFlow-core2-Tavix", 32));
    d.append(fixedString("00:00:00", 16));
    d.append(fixedString("Jan  1 2024", 16));
    d.append(fixedString("v4.4", 32));
    d.append(
        QCryptographicHash::hash("UIFlow-core2-Tavix demonstration", QCryptographicHash::Sha256));
    d.append(appDescriptionLength - d.size(), '\0');
    return d;
}

QByteArray bootloader(DeterministicRandom& rng)
{
    espimage::ImageLayout layout;
    layout.entryPoint = bootEntry;
    layout.segments = {
        {bootDram, text(rng, 3 * kibibyte) + data(rng, 3 * kibibyte)},
        {bootIramLoader, code(rng, 14 * kibibyte)},
        {bootIram, code(rng, 5 * kibibyte)},
    };
    return espimage::build(layout);
}

QByteArray partitionTable()
{
    using partitiontable::Entry;
    constexpr quint8 app = 0x00;
    constexpr quint8 dataType = 0x01;
    return partitiontable::build({
        Entry{dataType, 0x02, 0x9000, 0x6000, "nvs", 0},
        Entry{dataType, 0x01, 0xF000, 0x1000, "phy_init", 0},
        Entry{app, 0x00, applicationOffset, 0x300000, "factory", 0},
        Entry{dataType, 0x81, 0x310000, 0xCF0000, "vfs", 0},
    });
}

QByteArray application(DeterministicRandom& rng)
{
    espimage::ImageLayout layout;
    layout.entryPoint = appEntry;
    // DROM comes first so that its data lands at flash offset 0x20 of an MMU page, as its
    // address says; IROM's address is chosen from where its data lands.
    layout.segments = {
        {appDrom, appDescription() + text(rng, 200 * kibibyte) + assets(rng, 260 * kibibyte) +
                      data(rng, 36 * kibibyte)},
        {appDram, data(rng, 28 * kibibyte)},
        {appIram, code(rng, 96 * kibibyte)},
    };
    qint64 offset = espimage::headerLength;
    for (const espimage::Segment& s : layout.segments)
        offset += espimage::segmentHeaderLength + s.data.size();
    offset += espimage::segmentHeaderLength;
    const auto irom = appIromBase + quint32((applicationOffset + offset) % mmuPage);
    layout.segments.append({irom, code(rng, 790 * kibibyte)});
    return espimage::build(layout);
}

}  // namespace

QByteArray build()
{
    DeterministicRandom rng(seed);
    QByteArray image(bootloaderOffset, char(0xFF));
    image.append(bootloader(rng));
    Q_ASSERT(image.size() <= qsizetype(partitionTableOffset));
    image.append(qsizetype(partitionTableOffset) - image.size(), char(0xFF));
    image.append(partitionTable());
    image.append(qsizetype(applicationOffset) - image.size(), char(0xFF));
    image.append(application(rng));
    return image;
}

}  // namespace demofirmware
