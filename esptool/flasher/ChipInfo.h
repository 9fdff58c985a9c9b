#pragma once

#include "flasher/EfuseFields.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <array>

namespace esptool {

// What the flasher reads from an ESP32's eFuses to tell the user which chip is on the cable.
struct EfuseWords
{
    static constexpr int count = 7;
    std::array<quint32, count> words{};
    // APB_CTL_DATE: its top bit is the third revision bit.
    quint32 apbCtlDate = 0;

    quint32 field(efuse::Field f) const
    {
        return efuse::bits(words[static_cast<std::size_t>(f.word)], f.low, f.width);
    }
};

struct ChipDescription
{
    QString package;  // e.g. "ESP32-D0WD-V3"
    int majorRevision = 0;
    int minorRevision = 0;
    QByteArray mac;  // six bytes
    QStringList features;

    QString revisionText() const;  // "v3.1"
    QString macText() const;       // "24:0a:c4:12:34:56"
};

// Pure decoding of the eFuse words, with the chip data as tables.
ChipDescription describeChip(const EfuseWords& efuses);

// Crystal frequency in MHz (26, 40 or 48) from the UART clock divider the ROM picked for `baud`.
int crystalMhz(quint32 uartClockDiv, int baud);

// The value to send in CHANGE_BAUDRATE. The ESP32 ROM programs its UART from an internal
// clock estimate that can be a few per cent off, so the request is scaled by that estimate:
// rtcCali is the raw calibration register, ck8m the 8 MHz clock trim from eFuse. With either of
// them zero there is no estimate and the request goes out unchanged.
quint32 correctedBaud(quint32 requested, quint32 rtcCali, quint32 ck8m);

// The SPI_ATTACH pin word: 0 for the default flash pins, else the pads burnt into eFuse.
quint32 spiPinConfig(const EfuseWords& efuses);

}  // namespace esptool
