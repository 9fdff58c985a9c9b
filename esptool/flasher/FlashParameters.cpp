#include "flasher/FlashParameters.h"

#include <QCryptographicHash>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <utility>

using namespace Qt::StringLiterals;

namespace esptool::flash {

namespace {

constexpr quint32 kib = 1024;
constexpr quint32 mib = 1024 * kib;

// Ranges of the capacity byte and the power of two each code stands for.
struct CapacityRange
{
    quint8 first;
    quint8 last;
    int exponentOffset;  // size = 2^(code - exponentOffset)
};
constexpr std::array<CapacityRange, 3> capacityRanges{{
    {0x12, 0x1C, 0},     // 256KB (0x12) .. 256MB (0x1C)
    {0x20, 0x22, 6},     // 64MB .. 256MB
    {0x32, 0x3A, 0x20},  // 256KB (0x32) .. 64MB (0x3A)
}};

// Adesto parts put their size code in the low five bits of the memory type instead.
constexpr quint8 adestoManufacturer = 0x1F;
constexpr quint8 adestoFirstCode = 0x04;  // 512KB
constexpr quint8 adestoLastCode = 0x09;   // 16MB
constexpr int adestoExponentOffset = -15;

constexpr std::array<quint32, 3> absentIds{0x000000, 0xFFFFFF, 0xFFFF3F};

// Sizes users may name, and the high nibble of header byte 3 for each.
constexpr std::array<std::pair<quint32, quint8>, 5> namedSizes{{
    {1 * mib, 0x0},
    {2 * mib, 0x1},
    {4 * mib, 0x2},
    {8 * mib, 0x3},
    {16 * mib, 0x4},
}};

constexpr std::array<std::pair<const char16_t*, Mode>, 5> modeNames{{
    {u"keep", Mode::keep},
    {u"qio", Mode::qio},
    {u"qout", Mode::qout},
    {u"dio", Mode::dio},
    {u"dout", Mode::dout},
}};
constexpr std::array<std::pair<Mode, quint8>, 4> modeCodes{{
    {Mode::qio, 0},
    {Mode::qout, 1},
    {Mode::dio, 2},
    {Mode::dout, 3},
}};

constexpr std::array<std::pair<const char16_t*, Frequency>, 5> frequencyNames{{
    {u"keep", Frequency::keep},
    {u"80m", Frequency::mhz80},
    {u"40m", Frequency::mhz40},
    {u"26m", Frequency::mhz26},
    {u"20m", Frequency::mhz20},
}};
// The low nibble of header byte 3.
constexpr std::array<std::pair<Frequency, quint8>, 4> frequencyCodes{{
    {Frequency::mhz40, 0x0},
    {Frequency::mhz26, 0x1},
    {Frequency::mhz20, 0x2},
    {Frequency::mhz80, 0xF},
}};

constexpr quint8 imageMagic = 0xE9;
constexpr int imageHeaderSize = 24;  // common header plus the extended header
constexpr int segmentHeaderSize = 8;
constexpr int maxSegments = 16;
constexpr int hashAppendedOffset = 23;
constexpr int checksumAlignment = 16;
constexpr int digestSize = 32;

template <typename Key, typename Value, std::size_t N>
std::optional<Value> lookup(const std::array<std::pair<Key, Value>, N>& table, Key key)
{
    for (const auto& [k, v] : table) {
        if (k == key)
            return v;
    }
    return std::nullopt;
}

template <typename Value, std::size_t N>
std::optional<Value> lookupName(const std::array<std::pair<const char16_t*, Value>, N>& table,
                                const QString& name)
{
    for (const auto& [k, v] : table) {
        if (name.compare(QString::fromUtf16(k), Qt::CaseInsensitive) == 0)
            return v;
    }
    return std::nullopt;
}

// Where the image proper ends (checksum included), or nothing when `data` is no ESP32 image.
std::optional<qsizetype> imageEnd(const QByteArray& data)
{
    if (data.size() < imageHeaderSize || static_cast<quint8>(data[0]) != imageMagic)
        return std::nullopt;
    const int segments = static_cast<quint8>(data[1]);
    if (segments > maxSegments)
        return std::nullopt;
    qsizetype position = imageHeaderSize;
    for (int i = 0; i < segments; ++i) {
        if (position + segmentHeaderSize > data.size())
            return std::nullopt;
        const auto length = qFromLittleEndian<quint32>(data.constData() + position + 4);
        position += segmentHeaderSize;
        if (length > static_cast<quint64>(data.size() - position))
            return std::nullopt;
        position += length;
    }
    // Zero padding, then the checksum byte as the last byte of a 16-byte unit.
    const qsizetype end = (position / checksumAlignment + 1) * checksumAlignment;
    if (end > data.size())
        return std::nullopt;
    return end;
}

}  // namespace

std::optional<quint32> sizeFromJedecId(quint32 jedecId)
{
    const auto manufacturer = static_cast<quint8>(jedecId & 0xFF);
    if (manufacturer == adestoManufacturer) {
        const auto code = static_cast<quint8>((jedecId >> 8) & 0x1F);
        if (code >= adestoFirstCode && code <= adestoLastCode)
            return 1u << (code - adestoExponentOffset);
        return std::nullopt;
    }
    const auto capacity = static_cast<quint8>((jedecId >> 16) & 0xFF);
    for (const CapacityRange& range : capacityRanges) {
        if (capacity >= range.first && capacity <= range.last)
            return 1u << (capacity - range.exponentOffset);
    }
    return std::nullopt;
}

bool jedecIdLooksAbsent(quint32 jedecId)
{
    const quint32 id = jedecId & 0xFFFFFF;
    return std::find(absentIds.begin(), absentIds.end(), id) != absentIds.end();
}

std::optional<quint32> sizeFromName(const QString& name)
{
    for (const auto& [bytes, nibble] : namedSizes) {
        if (name.compare(sizeName(bytes), Qt::CaseInsensitive) == 0)
            return bytes;
    }
    return std::nullopt;
}

QString sizeName(quint32 bytes)
{
    if (bytes >= mib && bytes % mib == 0)
        return u"%1MB"_s.arg(bytes / mib);
    if (bytes >= kib && bytes % kib == 0)
        return u"%1KB"_s.arg(bytes / kib);
    return u"%1 bytes"_s.arg(bytes);
}

std::optional<Mode> modeFromName(const QString& name)
{
    return lookupName(modeNames, name);
}

std::optional<Frequency> frequencyFromName(const QString& name)
{
    return lookupName(frequencyNames, name);
}

PatchOutcome patchImageHeader(QByteArray& data, quint32 address, const HeaderPatch& patch)
{
    PatchOutcome outcome;
    const bool changesSomething =
        patch.mode != Mode::keep || patch.frequency != Frequency::keep || patch.sizeBytes;
    if (address != bootloaderOffset || !changesSomething)
        return outcome;
    const std::optional<qsizetype> end = imageEnd(data);
    const bool hasDigest = end && static_cast<quint8>(data[hashAppendedOffset]) == 1;
    if (!end || (hasDigest && *end + digestSize > data.size())) {
        outcome.kind = PatchOutcome::Kind::notAnImage;
        return outcome;
    }
    auto byte2 = static_cast<quint8>(data[2]);
    auto byte3 = static_cast<quint8>(data[3]);
    if (const auto code = lookup(modeCodes, patch.mode))
        byte2 = *code;
    if (const auto code = lookup(frequencyCodes, patch.frequency))
        byte3 = static_cast<quint8>((byte3 & 0xF0) | *code);
    if (patch.sizeBytes) {
        if (const auto nibble = lookup(namedSizes, *patch.sizeBytes))
            byte3 = static_cast<quint8>((byte3 & 0x0F) | (*nibble << 4));
    }
    data[2] = static_cast<char>(byte2);
    data[3] = static_cast<char>(byte3);
    if (hasDigest) {
        const QByteArray digest =
            QCryptographicHash::hash(QByteArrayView(data).first(*end), QCryptographicHash::Sha256);
        data.replace(*end, digestSize, digest);
        outcome.digestUpdated = true;
    }
    outcome.kind = PatchOutcome::Kind::patched;
    outcome.parameters = static_cast<quint16>(byte2 << 8 | byte3);
    return outcome;
}

}  // namespace esptool::flash
