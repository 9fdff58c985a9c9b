#pragma once

#include "failure/Result.h"

namespace esptool {

class RomConnection;

// Reads the flash chip's JEDEC ID by driving the SPI1 controller through READ_REG/WRITE_REG:
// the ROM has no command of its own for it. The controller's settings are restored afterwards.
Result<quint32> readJedecId(RomConnection& rom);

}  // namespace esptool
