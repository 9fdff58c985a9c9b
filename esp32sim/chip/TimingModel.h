#pragma once

#include <QtGlobal>

#include <chrono>
#include <optional>

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
// Reading flash and hashing it inside the ROM: a round 4 MB/s unless told otherwise.
inline constexpr Duration md5TimePerByte = std::chrono::nanoseconds(250);

// How often the RTC watchdog resets a chip that hangs in its boot.
inline constexpr Duration rtcWatchdogPeriod = std::chrono::milliseconds(300);

// Time that `bytes` bytes occupy on an 8N1 line at `baud`.
Duration wireTime(qint64 bytes, quint32 baud);
// Time SPI_FLASH_MD5 takes over `bytes` at `kibPerSecond`, or at md5TimePerByte without it.
Duration md5Time(qint64 bytes, std::optional<quint32> kibPerSecond);
// Time `bytes` take at `kibPerSecond`.
Duration rateTime(qint64 bytes, quint32 kibPerSecond);

}  // namespace esp32sim
