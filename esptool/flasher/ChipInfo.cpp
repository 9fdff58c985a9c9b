#include "flasher/ChipInfo.h"

#include <algorithm>
#include <cstdint>

using namespace Qt::StringLiterals;

namespace esptool {

namespace {

using efuse::bits;

struct PackageName
{
    quint32 code;
    const char16_t* name;
    const char16_t* revision3Name;  // nullptr: same name on revision 3
    const char16_t* singleCoreName;
};

// Package code (packageLowBits, with packageBit3 above them) to the package's name.
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
    const quint32 bit0 = efuses.field(efuse::revisionBit0);
    const quint32 bit1 = efuses.field(efuse::revisionBit1);
    const quint32 bit2 = bits(efuses.apbCtlDate, efuse::apbCtlDateRevisionBit2, 1);
    const quint32 combined = bit2 << 2 | bit1 << 1 | bit0;
    for (const auto& [code, major] : majorRevisions) {
        if (code == combined)
            return major;
    }
    return 0;
}

QString packageName(const EfuseWords& efuses, int major)
{
    const quint32 code = efuses.field(efuse::packageLowBits) | efuses.field(efuse::packageBit3)
                                                                   << efuse::packageLowBits.width;
    const bool singleCore = efuses.field(efuse::appCpuDisabled) != 0;
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
    QStringList list{u"Wi-Fi"_s};
    if (efuses.field(efuse::bluetoothDisabled) == 0)
        list << u"BT"_s;
    list << (efuses.field(efuse::appCpuDisabled) != 0 ? u"single core"_s : u"dual core"_s);
    if (efuses.field(efuse::cpuFrequencyRated) != 0)
        list << (efuses.field(efuse::cpuFrequencyLow) != 0 ? u"160 MHz"_s : u"240 MHz"_s);
    list << u"coding scheme "_s +
                QString::fromUtf16(codingSchemes.at(efuses.field(efuse::codingScheme)));
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
    chip.minorRevision = static_cast<int>(efuses.field(efuse::minorRevision));
    chip.package = packageName(efuses, chip.majorRevision);
    const quint32 high = efuses.field(efuse::macHigh);
    const quint32 low = efuses.field(efuse::macLow);
    for (const quint32 byte : {bits(high, 8, 8), bits(high, 0, 8), bits(low, 24, 8),
                               bits(low, 16, 8), bits(low, 8, 8), bits(low, 0, 8)}) {
        chip.mac.append(static_cast<char>(byte));
    }
    chip.features = features(efuses);
    return chip;
}

int crystalMhz(quint32 uartClockDiv, int baud)
{
    const double estimate = static_cast<double>(baud) *
                            static_cast<double>(bits(uartClockDiv, 0, efuse::uartClockDivWidth)) /
                            1e6;
    if (estimate > 45)
        return 48;
    if (estimate > 33)
        return 40;
    return 26;
}

quint32 correctedBaud(quint32 requested, quint32 rtcCali, quint32 ck8mTrim)
{
    // The ROM's clock estimate is cali x 15625 x ck8m / 40 Hz, i.e. cali x ck8m x 3125 / 8;
    // it counts against a 40 MHz crystal above 33 MHz and a 26 MHz one below.
    const std::uint64_t cali = bits(rtcCali, efuse::rtcCaliLow, efuse::rtcCaliWidth);
    const std::uint64_t ck8m = bits(ck8mTrim, 0, efuse::ck8mFrequency.width);
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
    const quint32 clk = efuses.field(efuse::spiPadClk);
    const quint32 q = efuses.field(efuse::spiPadQ);
    const quint32 d = efuses.field(efuse::spiPadD);
    const quint32 cs = efuses.field(efuse::spiPadCs);
    const quint32 hd = efuses.field(efuse::spiPadHd);
    if (clk == 0 && q == 0 && d == 0 && cs == 0 && hd == 0)
        return 0;
    return hd << 24 | cs << 18 | d << 12 | q << 6 | clk;
}

}  // namespace esptool
