#include "esp32sim/chip/SimulatorOptions.h"

#include <bit>

namespace esp32sim {

namespace {

constexpr quint32 winbondManufacturer = 0xEF;
constexpr quint32 serialNorMemoryType = 0x40;

}  // namespace

quint32 SimulatorOptions::effectiveJedecId() const
{
    if (jedecId)
        return *jedecId;
    const auto capacity = quint32(std::bit_width(flashSize) - 1);
    return (capacity << 16) | (serialNorMemoryType << 8) | winbondManufacturer;
}

}  // namespace esp32sim
