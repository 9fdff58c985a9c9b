#pragma once

#include <QByteArray>
#include <QtGlobal>

// The demonstration firmware bundled when no real image is given: a merged ESP32 image for
// address 0x0 with the layout and headers of a real one (boot loader at 0x1000, partition table
// at 0x8000, application at 0x10000, 0xFF between them) and made-up contents. It does not boot.
namespace demofirmware {

inline constexpr quint32 bootloaderOffset = 0x1000;
inline constexpr quint32 partitionTableOffset = 0x8000;
inline constexpr quint32 applicationOffset = 0x10000;

// Same bytes on every run and every machine.
QByteArray build();

}  // namespace demofirmware
