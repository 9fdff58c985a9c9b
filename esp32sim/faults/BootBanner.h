#pragma once

#include "esp32sim/protocol/RomProtocol.h"

#include <QByteArray>

// What an ESP32 prints on UART0 at 115200 as it comes out of reset. The boot mode it reports is
// what it sampled on its strapping pins: bit 0x10 is GPIO0.
namespace esp32sim {

// GPIO0 low: the ROM waits for a download over the serial line.
QByteArray downloadModeBanner(ResetCause cause);
// GPIO0 high over a flash that holds no bootable image (a write cut short): the ROM fails to read
// the bootloader and stops, until its RTC watchdog resets it into the same failure.
QByteArray failedFlashBootBanner(ResetCause cause);
// GPIO0 high over a good image: the ROM, the second-stage bootloader and the application.
QByteArray firmwareBootBanner();

}  // namespace esp32sim
