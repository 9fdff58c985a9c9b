#include "esp32sim/chip/RegisterMap.h"

#include "esp32sim/protocol/RomProtocol.h"

namespace esp32sim {

namespace {

constexpr int efuseAttachPadsWord = 5;
constexpr int efuseHdPadWord = 3;
constexpr int efuseCk8mWord = 4;
constexpr quint32 padMask = 0x1F;
constexpr quint32 calibrationShift = 7;
constexpr quint32 calibrationMask = 0x1FFFFFF;
constexpr quint32 ck8mMask = 0xFF;
constexpr quint64 calibrationScale = 15625;
constexpr quint64 calibrationDivisor = 40;
constexpr int clkdivFractionShift = 20;
constexpr quint32 clkdivFractionSteps = 16;
constexpr int appCpuCauseShift = 6;

constexpr int efuseCryptWord = 0;
constexpr int efuseSecurityWord = 6;
constexpr int flashCryptCountShift = 20;
constexpr quint32 flashCryptCountMask = 0x7FU << flashCryptCountShift;
constexpr quint32 absDone0 = 1U << 4;
constexpr quint32 absDone1 = 1U << 5;
constexpr quint32 disableDownloadEncrypt = 1U << 7;

// UART_CLKDIV as the ROM programs it: integer part in bits 19:0, sixteenths in 23:20.
quint32 clockDivider(quint64 clockHz, quint32 baud)
{
    if (baud == 0)
        return 0;
    const quint64 sixteenths = clockHz * clkdivFractionSteps / baud;
    return quint32(sixteenths / clkdivFractionSteps) | quint32(sixteenths % clkdivFractionSteps)
                                                           << clkdivFractionShift;
}

}  // namespace

RegisterMap::RegisterMap(const SimulatorOptions& options)
    : m_chipMagic(options.chipMagic)
    , m_spi(options.effectiveJedecId())
{
    for (std::size_t i = 0; i < m_efuse.size(); ++i)
        m_efuse.at(i) = options.efuseWords.at(i).value_or(defaultEfuse.at(i));
    const SecurityEfuses& security = options.security;
    quint32& crypt = m_efuse.at(efuseCryptWord);
    if (security.flashCryptCount) {
        crypt =
            (crypt & ~flashCryptCountMask) |
            ((quint32(*security.flashCryptCount) << flashCryptCountShift) & flashCryptCountMask);
    }
    quint32& secure = m_efuse.at(efuseSecurityWord);
    if (security.secureBoot == SecurityEfuses::SecureBoot::v1)
        secure |= absDone0;
    if (security.secureBoot == SecurityEfuses::SecureBoot::v2)
        secure |= absDone1;
    if (security.downloadEncryptionDisabled)
        secure |= disableDownloadEncrypt;
    setResetCause(ResetCause::powerOn);
    resetSession();
}

void RegisterMap::setResetCause(ResetCause cause)
{
    m_resetState = quint32(cause) | quint32(cause) << appCpuCauseShift;
}

void RegisterMap::resetSession()
{
    m_spi.reset();
    m_ram.clear();
    m_uartClkdiv = clockDivider(xtalHz, initialBaud);
}

quint32 RegisterMap::read(quint32 address) const
{
    if (address == chipMagic)
        return m_chipMagic;
    if (address >= efuseBase && address < efuseBase + 4 * efuseWordCount && address % 4 == 0)
        return m_efuse.at((address - efuseBase) / 4);
    if (address == apbCtlDate)
        return apbCtlDateValue;
    if (address == uartClkdiv)
        return m_uartClkdiv;
    if (address == rtcCalibration)
        return rtcCalibrationValue;
    if (address == resetState)
        return m_resetState;
    if (SpiController::covers(address))
        return m_spi.read(address);
    return m_ram.value(address, 0);
}

void RegisterMap::write(quint32 address, quint32 value, quint32 mask)
{
    const bool readOnly = address == chipMagic || address == apbCtlDate || address == uartClkdiv ||
                          address == rtcCalibration || address == resetState ||
                          (address >= efuseBase && address < efuseBase + 4 * efuseWordCount);
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
    const quint32 pads = efuseWord(efuseAttachPadsWord);
    const quint32 clk = pads & padMask;
    const quint32 q = (pads >> 5) & padMask;
    const quint32 d = (pads >> 10) & padMask;
    const quint32 cs = (pads >> 15) & padMask;
    const quint32 hd = (efuseWord(efuseHdPadWord) >> 4) & padMask;
    if ((clk | q | d | cs | hd) == 0)
        return 0;
    return hd << 24 | cs << 18 | d << 12 | q << 6 | clk;
}

quint64 RegisterMap::romXtalEstimateHz() const
{
    const quint64 calibration = (rtcCalibrationValue >> calibrationShift) & calibrationMask;
    const quint64 ck8m = efuseWord(efuseCk8mWord) & ck8mMask;
    return calibration * calibrationScale * ck8m / calibrationDivisor;
}

quint32 RegisterMap::baudAfterChange(quint32 requested) const
{
    const quint64 estimate = romXtalEstimateHz();
    if (estimate == 0)
        return requested;
    return quint32(quint64(requested) * xtalHz / estimate);
}

void RegisterMap::setUartBaud(quint32 requestedBaud)
{
    const quint64 estimate = romXtalEstimateHz();
    m_uartClkdiv = clockDivider(estimate != 0 ? estimate : xtalHz, requestedBaud);
}

}  // namespace esp32sim
