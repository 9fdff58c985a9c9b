#include "flasher/ChipInfo.h"

#include <algorithm>
#include <cstdint>

using namespace Qt::StringLiterals;

namespace esptool {

namespace {

constexpr quint32 bits(quint32 word, int low, int count)
{
    return (word >> low) & ((1u << count) - 1);
}

struct PackageName
{
    quint32 code;
    const char16_t* name;
    const char16_t* revision3Name;  // nullptr: same name on revision 3
    const char16_t* singleCoreName;
};

// Package code (eFuse word 3 bits 11:9, plus bit 2 as bit 3) to the package's name.
constexpr std::array<PackageName, 7> packageNames{{
    {0, u"ESP32-D0WDQ6", u"ESP32-D0WDQ6-V3", u"ESP32-S0WDQ6"},
    {1, u"ESP32-D0WD", u"ESP32-D0WD-V3", u"ESP32-S0WD"},
    {2, u"ESP32-D2WD", nullptr, nullptr},
    {4, u"ESP32-U4WDH", nullptr, nullptr},
    {5, u"ESP32-PICO-D4", u"ESP32-PICO-V3", nullptr},
    {6, u"ESP32-PICO-V3-02", nullptr, nullptr},
    {7, u"ESP32-D0WDR2-V3", nullptr, nullptr},
}};

// The three revision bits (b2 b1 b0) to the major revision; other combinations mean 0.
constexpr std::array<std::pair<quint32, int>, 4> majorRevisions{{{0, 0}, {1, 1}, {3, 2}, {7, 3}}};

constexpr std::array<const char16_t*, 4> codingSchemes{u"None", u"3/4", u"Repeat", u"Invalid"};

int majorRevision(const EfuseWords& efuses)
{
    const quint32 bit0 = bits(efuses.words[3], 15, 1);
    const quint32 bit1 = bits(efuses.words[5], 20, 1);
    const quint32 bit2 = bits(efuses.apbCtlDate, 31, 1);
    const quint32 combined = bit2 << 2 | bit1 << 1 | bit0;
    for (const auto& [code, major] : majorRevisions) {
        if (code == combined)
            return major;
    }
    return 0;
}

QString packageName(const EfuseWords& efuses, int major)
{
    const quint32 word3 = efuses.words[3];
    const quint32 code = bits(word3, 9, 3) | bits(word3, 2, 1) << 3;
    const bool singleCore = bits(word3, 0, 1) != 0;
    for (const PackageName& entry : packageNames) {
        if (entry.code != code)
            continue;
        if (singleCore && entry.singleCoreName != nullptr)
            return QString::fromUtf16(entry.singleCoreName);
        if (major == 3 && entry.revision3Name != nullptr)
            return QString::fromUtf16(entry.revision3Name);
        return QString::fromUtf16(entry.name);
    }
    return u"unknown ESP32 package"_s;
}

QStringList features(const EfuseWords& efuses)
{
    const quint32 word3 = efuses.words[3];
    QStringList list{u"Wi-Fi"_s};
    if (bits(word3, 1, 1) == 0)
        list << u"BT"_s;
    list << (bits(word3, 0, 1) != 0 ? u"single core"_s : u"dual core"_s);
    if (bits(word3, 13, 1) != 0)
        list << (bits(word3, 12, 1) != 0 ? u"160 MHz"_s : u"240 MHz"_s);
    list << u"coding scheme "_s + QString::fromUtf16(codingSchemes[bits(efuses.words[6], 0, 2)]);
    return list;
}

}  // namespace

QString ChipDescription::revisionText() const
{
    return u"v%1.%2"_s.arg(majorRevision).arg(minorRevision);
}

QString ChipDescription::macText() const
{
    return QString::fromLatin1(mac.toHex(':'));
}

ChipDescription describeChip(const EfuseWords& efuses)
{
    ChipDescription chip;
    chip.majorRevision = majorRevision(efuses);
    chip.minorRevision = static_cast<int>(bits(efuses.words[5], 24, 2));
    chip.package = packageName(efuses, chip.majorRevision);
    const quint32 word1 = efuses.words[1];
    const quint32 word2 = efuses.words[2];
    for (const quint32 byte : {bits(word2, 8, 8), bits(word2, 0, 8), bits(word1, 24, 8),
                               bits(word1, 16, 8), bits(word1, 8, 8), bits(word1, 0, 8)}) {
        chip.mac.append(static_cast<char>(byte));
    }
    chip.features = features(efuses);
    // An odd number of set bits in FLASH_CRYPT_CNT means flash encryption is on.
    chip.flashEncryptionOn = qPopulationCount(bits(efuses.words[0], 20, 7)) % 2 == 1;
    return chip;
}

int crystalMhz(quint32 uartClockDiv, int baud)
{
    const double estimate =
        static_cast<double>(baud) * static_cast<double>(bits(uartClockDiv, 0, 20)) / 1e6;
    if (estimate > 45)
        return 48;
    if (estimate > 33)
        return 40;
    return 26;
}

quint32 correctedBaud(quint32 requested, quint32 rtcCali, quint32 efuseWord4)
{
    // The ROM's clock estimate is cali x 15625 x ck8m / 40 Hz, i.e. cali x ck8m x 3125 / 8;
    // it counts against a 40 MHz crystal above 33 MHz and a 26 MHz one below.
    const std::uint64_t cali = bits(rtcCali, 7, 25);
    const std::uint64_t ck8m = bits(efuseWord4, 0, 8);
    if (cali == 0 || ck8m == 0)
        return requested;
    const std::uint64_t clockTimes8 = cali * ck8m * 3125;
    const std::uint64_t nominal = clockTimes8 > 8ull * 33'000'000 ? 40'000'000 : 26'000'000;
    // requested x clockTimes8 / divisor, split so that no product leaves 64 bits.
    const std::uint64_t divisor = 8 * nominal;
    const std::uint64_t whole = requested * (clockTimes8 / divisor);
    const std::uint64_t part = requested * (clockTimes8 % divisor) / divisor;
    return static_cast<quint32>(std::min<std::uint64_t>(whole + part, 0xFFFFFFFFu));
}

quint32 spiPinConfig(const EfuseWords& efuses)
{
    const quint32 word5 = efuses.words[5];
    const quint32 clk = bits(word5, 0, 5);
    const quint32 q = bits(word5, 5, 5);
    const quint32 d = bits(word5, 10, 5);
    const quint32 cs = bits(word5, 15, 5);
    const quint32 hd = bits(efuses.words[3], 4, 5);
    if (clk == 0 && q == 0 && d == 0 && cs == 0 && hd == 0)
        return 0;
    return hd << 24 | cs << 18 | d << 12 | q << 6 | clk;
}

}  // namespace esptool
