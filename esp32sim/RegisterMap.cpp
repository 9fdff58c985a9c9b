#include "RegisterMap.h"

#include "RomProtocol.h"

namespace esp32sim {

namespace {

constexpr int kEfuseAttachPadsWord = 5;
constexpr int kEfuseHdPadWord = 3;
constexpr int kEfuseCk8mWord = 4;
constexpr quint32 kPadMask = 0x1F;
constexpr quint32 kCalibrationShift = 7;
constexpr quint32 kCalibrationMask = 0x1FFFFFF;
constexpr quint32 kCk8mMask = 0xFF;
constexpr quint64 kCalibrationScale = 15625;
constexpr quint64 kCalibrationDivisor = 40;
constexpr int kClkdivFractionShift = 20;
constexpr quint32 kClkdivFractionSteps = 16;

// UART_CLKDIV as the ROM programs it: integer part in bits 19:0, sixteenths in 23:20.
quint32 clockDivider(quint64 clockHz, quint32 baud)
{
    if (baud == 0)
        return 0;
    const quint64 sixteenths = clockHz * kClkdivFractionSteps / baud;
    return quint32(sixteenths / kClkdivFractionSteps) | quint32(sixteenths % kClkdivFractionSteps)
                                                            << kClkdivFractionShift;
}

}  // namespace

RegisterMap::RegisterMap(const SimulatorOptions& options)
    : m_chipMagic(options.chipMagic)
    , m_spi(options.effectiveJedecId())
{
    for (std::size_t i = 0; i < m_efuse.size(); ++i)
        m_efuse.at(i) = options.efuseWords.at(i).value_or(kDefaultEfuse.at(i));
    resetSession();
}

void RegisterMap::resetSession()
{
    m_spi.reset();
    m_ram.clear();
    m_uartClkdiv = clockDivider(kXtalHz, kInitialBaud);
}

quint32 RegisterMap::read(quint32 address) const
{
    if (address == kChipMagic)
        return m_chipMagic;
    if (address >= kEfuseBase && address < kEfuseBase + 4 * kEfuseWordCount && address % 4 == 0)
        return m_efuse.at((address - kEfuseBase) / 4);
    if (address == kApbCtlDate)
        return kApbCtlDateValue;
    if (address == kUartClkdiv)
        return m_uartClkdiv;
    if (address == kRtcCalibration)
        return kRtcCalibrationValue;
    if (SpiController::covers(address))
        return m_spi.read(address);
    return m_ram.value(address, 0);
}

void RegisterMap::write(quint32 address, quint32 value, quint32 mask)
{
    const bool readOnly = address == kChipMagic || address == kApbCtlDate ||
                          address == kUartClkdiv || address == kRtcCalibration ||
                          (address >= kEfuseBase && address < kEfuseBase + 4 * kEfuseWordCount);
    if (readOnly)
        return;
    const quint32 merged = (read(address) & ~mask) | (value & mask);
    if (SpiController::covers(address))
        m_spi.write(address, merged);
    else
        m_ram.insert(address, merged);
}

quint32 RegisterMap::expectedAttachConfig() const
{
    const quint32 pads = efuseWord(kEfuseAttachPadsWord);
    const quint32 clk = pads & kPadMask;
    const quint32 q = (pads >> 5) & kPadMask;
    const quint32 d = (pads >> 10) & kPadMask;
    const quint32 cs = (pads >> 15) & kPadMask;
    const quint32 hd = (efuseWord(kEfuseHdPadWord) >> 4) & kPadMask;
    if ((clk | q | d | cs | hd) == 0)
        return 0;
    return hd << 24 | cs << 18 | d << 12 | q << 6 | clk;
}

quint64 RegisterMap::romXtalEstimateHz() const
{
    const quint64 calibration = (kRtcCalibrationValue >> kCalibrationShift) & kCalibrationMask;
    const quint64 ck8m = efuseWord(kEfuseCk8mWord) & kCk8mMask;
    return calibration * kCalibrationScale * ck8m / kCalibrationDivisor;
}

quint32 RegisterMap::baudAfterChange(quint32 requested) const
{
    const quint64 estimate = romXtalEstimateHz();
    if (estimate == 0)
        return requested;
    return quint32(quint64(requested) * kXtalHz / estimate);
}

void RegisterMap::setUartBaud(quint32 requestedBaud)
{
    const quint64 estimate = romXtalEstimateHz();
    m_uartClkdiv = clockDivider(estimate != 0 ? estimate : kXtalHz, requestedBaud);
}

}  // namespace esp32sim
