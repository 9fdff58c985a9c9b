#pragma once

#include "esp32sim/chip/SimulatorOptions.h"
#include "esp32sim/chip/SpiController.h"

#include <QHash>
#include <QtGlobal>

#include <array>

namespace esp32sim {

// The part of the ESP32 address space clients read and write through READ_REG / WRITE_REG:
// the chip magic, the eFuse block, APB_CTL_DATE, the UART clock divider, the RTC calibration
// word, the reset causes, the SPI1 controller, and any other word, which behaves like plain RAM
// (reads 0 until written).
class RegisterMap
{
public:
    static constexpr quint32 chipMagic = 0x40001000;
    static constexpr quint32 efuseBase = 0x3FF5A000;
    static constexpr quint32 apbCtlDate = 0x3FF6607C;
    static constexpr quint32 uartClkdiv = 0x3FF40014;
    static constexpr quint32 rtcCalibration = 0x3FF5F06C;
    static constexpr quint32 resetState = 0x3FF48034;  // RTC_CNTL_RESET_STATE_REG

    static constexpr quint32 xtalHz = 40'000'000;
    static constexpr quint32 apbCtlDateValue = 0x96042000;  // bit 31: revision bit 2
    static constexpr quint32 rtcCalibrationValue = 1024U << 7;
    static constexpr std::array<quint32, efuseWordCount> defaultEfuse = {
        0x00000000,  // no flash encryption
        0xC4123456,  // MAC bytes 2-5
        0x0000240A,  // MAC bytes 0-1
        0x0000A200,  // package D0WD, revision bit 0, default HD pad
        0x00000064,  // CK8M = 100: the ROM's clock estimate comes out at exactly 40 MHz
        0x01100000,  // revision bit 1, minor revision 1, default SPI pads
        0x00000000,  // coding scheme none
    };

    explicit RegisterMap(const SimulatorOptions& options);

    quint32 read(quint32 address) const;
    // new = (old & ~mask) | (value & mask); read-only registers ignore writes.
    void write(quint32 address, quint32 value, quint32 mask);

    // Back to power-on state: SPI registers, RAM words and a UART at 115200.
    void resetSession();
    // Why the chip last reset, on both CPUs (PRO in bits 5:0, APP in 11:6); survives sessions.
    void setResetCause(ResetCause cause);

    quint32 efuseWord(int index) const { return m_efuse.at(std::size_t(index)); }
    void setEfuseWord(int index, quint32 value) { m_efuse.at(std::size_t(index)) = value; }
    // Pin configuration a client must pass to SPI_ATTACH to reach the flash: 0 when the eFuse
    // SPI pads are unset, otherwise the pads packed as HD<<24 | CS<<18 | D<<12 | Q<<6 | CLK.
    quint32 expectedAttachConfig() const;

    // Crystal frequency the ROM believes in, from the RTC calibration word and CK8M.
    quint64 romXtalEstimateHz() const;
    // The rate the UART really runs at after CHANGE_BAUDRATE asked for `requested`: the ROM
    // derives its divider from its estimate, the divider runs on the true crystal.
    quint32 baudAfterChange(quint32 requested) const;
    void setUartBaud(quint32 requestedBaud);

    SpiController& spi() { return m_spi; }
    const SpiController& spi() const { return m_spi; }

private:
    quint32 m_chipMagic;
    std::array<quint32, efuseWordCount> m_efuse{};
    quint32 m_uartClkdiv = 0;
    quint32 m_resetState = 0;
    SpiController m_spi;
    QHash<quint32, quint32> m_ram;
};

}  // namespace esp32sim
