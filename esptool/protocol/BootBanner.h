#pragma once

#include <QByteArrayView>
#include <QString>

#include <optional>

namespace esptool {

// What the ESP32 ROM prints at 115200 right after any reset, before it either waits in its
// serial loader or boots the flash:
//     rst:0x1 (POWERON_RESET),boot:0x3 (DOWNLOAD_BOOT(UART0/UART1/SDIO_REI_REO_V2))
//     waiting for download
// A board that boots a flash it cannot read goes on with "flash read err, 1000" and is restarted
// by its watchdog, again and again.
struct BootBanner
{
    quint8 resetCause = 0;  // the number after "rst:0x"
    quint8 bootMode = 0;    // the number after "boot:0x": the strapping pins as sampled
    // "boot:0x13 (SPI_FAST_FLASH_BOOT)" as it was printed, for messages.
    QString bootText;
    bool waitingForDownload = false;
    bool flashReadError = false;

    // GPIO0 was high at reset: the ROM went on to boot from flash instead of its loader.
    bool bootsFromFlash() const;
};

// The last complete banner in `text` (raw bytes from the port), and what followed it.
std::optional<BootBanner> lastBootBanner(QByteArrayView text);

// The ROM's name for a reset cause ("POWERON_RESET"), or "reset cause 0x2a" for one not listed.
QString resetCauseName(quint8 cause);

// What a cause says about the board, for a user: "power-on reset: its supply probably dropped".
QString resetCauseMeaning(quint8 cause);

}  // namespace esptool
