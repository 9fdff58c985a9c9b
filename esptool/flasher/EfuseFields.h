#pragma once

#include <QtGlobal>

// The ESP32 eFuse fields the flasher reads, named once: word n of the block sits at
// 0x3FF5A000 + 4n; a field is `width` bits from bit `low` of one word.
namespace esptool::efuse {

struct Field
{
    int word;
    int low;
    int width;
};

inline constexpr Field flashCryptCount{0, 20, 7};  // odd number of set bits: encryption on
inline constexpr Field macLow{1, 0, 32};           // MAC bytes 2-5, byte 2 in the top bits
inline constexpr Field macHigh{2, 0, 16};          // MAC bytes 0-1, byte 0 in the top bits
inline constexpr Field appCpuDisabled{3, 0, 1};    // single core
inline constexpr Field bluetoothDisabled{3, 1, 1};
inline constexpr Field packageBit3{3, 2, 1};
inline constexpr Field spiPadHd{3, 4, 5};
inline constexpr Field packageLowBits{3, 9, 3};
inline constexpr Field cpuFrequencyLow{3, 12, 1};  // 160 MHz instead of 240, when rated
inline constexpr Field cpuFrequencyRated{3, 13, 1};
inline constexpr Field revisionBit0{3, 15, 1};
inline constexpr Field ck8mFrequency{4, 0, 8};  // trim of the 8 MHz clock, for the baud estimate
inline constexpr Field spiPadClk{5, 0, 5};
inline constexpr Field spiPadQ{5, 5, 5};
inline constexpr Field spiPadD{5, 10, 5};
inline constexpr Field spiPadCs{5, 15, 5};
inline constexpr Field revisionBit1{5, 20, 1};
inline constexpr Field minorRevision{5, 24, 2};
inline constexpr Field codingScheme{6, 0, 2};
inline constexpr Field secureBootV1{6, 4, 1};        // ABS_DONE_0
inline constexpr Field secureBootV2{6, 5, 1};        // ABS_DONE_1
inline constexpr Field downloadEncryptOff{6, 7, 1};  // DISABLE_DL_ENCRYPT: "release mode"

// Outside the eFuse block, but read alongside it.
inline constexpr int apbCtlDateRevisionBit2 = 31;  // APB_CTL_DATE bit 31: revision bit 2
inline constexpr int rtcCaliLow = 7;               // RTC calibration value: bits 31:7
inline constexpr int rtcCaliWidth = 25;
inline constexpr int uartClockDivWidth = 20;  // UART_CLKDIV integer part: bits 19:0

constexpr quint32 bits(quint32 word, int low, int width)
{
    return width >= 32 ? word >> low : (word >> low) & ((1u << width) - 1);
}

}  // namespace esptool::efuse
