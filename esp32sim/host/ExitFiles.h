#pragma once

#include "esp32sim/chip/FlashMemory.h"
#include "esp32sim/chip/SimulatorStatistics.h"

#include <QString>

namespace esp32sim {

// Files the executable leaves behind when it exits. Both are written to a temporary file and
// renamed, so a reader never sees half a dump.
bool writeFlashDump(const FlashMemory& flash, const QString& path, QString* error);
bool writeStatistics(const SimulatorStatistics& statistics, const QString& path, QString* error);

}  // namespace esp32sim
