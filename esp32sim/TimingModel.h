#pragma once

#include <QtGlobal>

#include <chrono>

// Modelled durations: UART wire time and typical SPI NOR flash figures (a 4 MiB..16 MiB
// Winbond-class part). README.md lists them; the simulator waits for them only with --timing.
namespace esp32sim {

using Duration = std::chrono::nanoseconds;

inline constexpr quint32 flashPageSize = 0x100;
inline constexpr quint32 flashSectorSize = 0x1000;
inline constexpr quint32 flashBlockSize = 0x10000;

inline constexpr Duration sectorEraseTime = std::chrono::milliseconds(45);   // 4 KiB sector
inline constexpr Duration blockEraseTime = std::chrono::milliseconds(150);   // 64 KiB block
inline constexpr Duration pageProgramTime = std::chrono::microseconds(400);  // up to 256 bytes
// Reading flash and hashing it inside the ROM: a round 4 MB/s.
inline constexpr Duration md5TimePerByte = std::chrono::nanoseconds(250);

// Time that `bytes` bytes occupy on an 8N1 line at `baud`.
Duration wireTime(qint64 bytes, quint32 baud);

}  // namespace esp32sim
