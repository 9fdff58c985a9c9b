#include "SimulatorOptions.h"

#include <bit>

namespace esp32sim {

namespace {

constexpr quint32 kWinbondManufacturer = 0xEF;
constexpr quint32 kSerialNorMemoryType = 0x40;

}  // namespace

quint32 SimulatorOptions::effectiveJedecId() const
{
    if (jedecId)
        return *jedecId;
    const auto capacity = quint32(std::bit_width(flashSize) - 1);
    return (capacity << 16) | (kSerialNorMemoryType << 8) | kWinbondManufacturer;
}

}  // namespace esp32sim
