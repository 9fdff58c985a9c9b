#include "protocol/BootBanner.h"

#include <QRegularExpression>

#include <array>
#include <utility>

using namespace Qt::StringLiterals;

namespace esptool {

namespace {

// In the boot mode, this bit is GPIO0 as sampled at reset.
constexpr uint gpio0HighBit = 0x10;

constexpr std::array<std::pair<quint8, const char16_t*>, 15> causeNames{{
    {0x01, u"POWERON_RESET"},
    {0x03, u"SW_RESET"},
    {0x04, u"OWDT_RESET"},
    {0x05, u"DEEPSLEEP_RESET"},
    {0x06, u"SDIO_RESET"},
    {0x07, u"TG0WDT_SYS_RESET"},
    {0x08, u"TG1WDT_SYS_RESET"},
    {0x09, u"RTCWDT_SYS_RESET"},
    {0x0A, u"INTRUSION_RESET"},
    {0x0B, u"TGWDT_CPU_RESET"},
    {0x0C, u"SW_CPU_RESET"},
    {0x0D, u"RTCWDT_CPU_RESET"},
    {0x0E, u"EXT_CPU_RESET"},
    {0x0F, u"RTCWDT_BROWN_OUT_RESET"},
    {0x10, u"RTCWDT_RTC_RESET"},
}};

constexpr quint8 powerOn = 0x01;
constexpr quint8 brownOut = 0x0F;

bool isWatchdog(quint8 cause)
{
    for (const quint8 watchdog : {0x04, 0x07, 0x08, 0x09, 0x0B, 0x0D, 0x10}) {
        if (cause == watchdog)
            return true;
    }
    return false;
}

}  // namespace

bool BootBanner::bootsFromFlash() const
{
    return (bootMode & gpio0HighBit) != 0;
}

std::optional<BootBanner> lastBootBanner(QByteArrayView text)
{
    static const QRegularExpression line(
        u"rst:0x([0-9a-fA-F]{1,2})(?: \\([^)\\r\\n]*\\))?,(boot:0x([0-9a-fA-F]{1,2})"
        "(?: \\((?:[^()\\r\\n]|\\([^)\\r\\n]*\\))*\\))?)"_s);
    const QString latin = QString::fromLatin1(text);
    QRegularExpressionMatch last;
    for (const QRegularExpressionMatch& match : line.globalMatch(latin))
        last = match;
    if (!last.hasMatch())
        return std::nullopt;
    BootBanner banner;
    banner.resetCause = static_cast<quint8>(last.captured(1).toUInt(nullptr, 16));
    banner.bootMode = static_cast<quint8>(last.captured(3).toUInt(nullptr, 16));
    banner.bootText = last.captured(2);
    const QStringView after = QStringView(latin).sliced(last.capturedEnd(0));
    banner.waitingForDownload = after.contains(u"waiting for download"_s);
    banner.flashReadError = after.contains(u"flash read err"_s);
    return banner;
}

QString resetCauseName(quint8 cause)
{
    for (const auto& [code, name] : causeNames) {
        if (code == cause)
            return QString::fromUtf16(name);
    }
    return u"reset cause 0x%1"_s.arg(cause, 2, 16, QLatin1Char('0'));
}

QString resetCauseMeaning(quint8 cause)
{
    // The ROM leaves the brown-out detector off, so a sagging supply usually restarts the chip
    // through its power-on reset rather than a brown-out one.
    if (cause == powerOn)
        return u"power-on reset: its supply probably dropped"_s;
    if (cause == brownOut)
        return u"brown-out reset: its supply voltage sagged"_s;
    if (isWatchdog(cause))
        return u"watchdog reset, %1"_s.arg(resetCauseName(cause));
    return resetCauseName(cause);
}

}  // namespace esptool
