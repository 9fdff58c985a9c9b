#pragma once

#include <QtGlobal>

#include <algorithm>
#include <chrono>
#include <cstdint>

// Facts of the ESP32 ROM loader's serial protocol, named once.
namespace esptool::rom {

using std::chrono::milliseconds;

enum class Opcode : quint8
{
    flashBegin = 0x02,
    flashData = 0x03,
    flashEnd = 0x04,
    sync = 0x08,
    writeReg = 0x09,
    readReg = 0x0A,
    spiSetParams = 0x0B,
    spiAttach = 0x0D,
    changeBaudrate = 0x0F,
    flashDeflBegin = 0x10,
    flashDeflData = 0x11,
    flashDeflEnd = 0x12,
    spiFlashMd5 = 0x13,
};

inline constexpr quint8 requestDirection = 0x00;
inline constexpr quint8 replyDirection = 0x01;
inline constexpr int packetHeaderSize = 8;
// The ESP32 ROM (unlike a flasher stub) ends every reply with four status bytes.
inline constexpr int romStatusSize = 4;
inline constexpr quint8 checksumSeed = 0xEF;

// The ROM takes flash data in 1 KiB blocks; the last uncompressed block is padded with 0xFF.
inline constexpr quint32 flashBlockSize = 0x400;
inline constexpr quint32 flashSectorSize = 0x1000;
inline constexpr quint32 flashEraseBlockSize = 0x10000;
inline constexpr quint32 flashPageSize = 0x100;
inline constexpr quint32 flashStatusMask = 0xFFFF;
inline constexpr quint8 erasedByte = 0xFF;
// Images are padded to whole words before they are written.
inline constexpr quint32 writeAlignment = 4;

inline constexpr int initialBaud = 115200;
inline constexpr quint32 chipMagicEsp32 = 0x00F01D83;
inline constexpr quint32 syncReplyCount = 8;

// Registers read over READ_REG.
inline constexpr quint32 chipMagicRegister = 0x40001000;
inline constexpr quint32 efuseBase = 0x3FF5A000;
inline constexpr quint32 apbCtlDateRegister = 0x3FF6607C;
inline constexpr quint32 uartClockDivRegister = 0x3FF40014;
inline constexpr quint32 rtcCaliRegister = 0x3FF5F06C;
// RTC_CNTL_RESET_STATE_REG: the cause of the last reset of each CPU. It tells what the last reset
// was, not whether one happened: the reset that puts the chip into its loader leaves a cause too.
inline constexpr quint32 resetStateRegister = 0x3FF48034;
inline constexpr quint32 resetCauseMask = 0x3F;  // bits 5:0, the PRO CPU's

constexpr quint32 efuseWordAddress(int word)
{
    return efuseBase + 4 * static_cast<quint32>(word);
}

// SPI1 controller, driven by WRITE_REG/READ_REG to issue a flash command such as RDID.
namespace spi {
inline constexpr quint32 base = 0x3FF42000;
inline constexpr quint32 cmd = base + 0x00;
inline constexpr quint32 user = base + 0x1C;
inline constexpr quint32 user2 = base + 0x24;
inline constexpr quint32 misoDlen = base + 0x2C;
inline constexpr quint32 w0 = base + 0x80;
inline constexpr quint32 cmdUsr = 1u << 18;
inline constexpr quint32 userCommand = 1u << 31;
inline constexpr quint32 userMiso = 1u << 28;
inline constexpr quint32 user2CommandBitsShift = 28;
inline constexpr quint8 readJedecId = 0x9F;
inline constexpr int jedecIdBits = 24;
inline constexpr int maxCommandPolls = 10;
}  // namespace spi

// Timeouts. The ROM acknowledges an erase, a block or a hash only when the flash work is done,
// so those scale with the bytes the chip has to touch.
namespace timeout {
inline constexpr milliseconds standard = std::chrono::seconds{3};
inline constexpr milliseconds syncFirstReply = milliseconds{100};
inline constexpr milliseconds syncFollowingReplies = milliseconds{100};
inline constexpr milliseconds syncRetryPause = milliseconds{50};
inline constexpr milliseconds afterBaudChange = milliseconds{50};
inline constexpr milliseconds serialWrite = std::chrono::seconds{10};
// Per million bytes of flash touched.
inline constexpr milliseconds erasePerMb = std::chrono::seconds{30};
inline constexpr milliseconds writePerMb = std::chrono::seconds{40};
inline constexpr milliseconds md5PerMb = std::chrono::seconds{8};
}  // namespace timeout

// max(standard, perMb x bytes / 1e6): how long the ROM may take to touch `bytes` of flash.
constexpr milliseconds scaledTimeout(milliseconds perMb, quint64 bytes)
{
    constexpr quint64 bytesPerMb = 1'000'000;
    const auto scaled = milliseconds(static_cast<std::int64_t>(
        (static_cast<quint64>(perMb.count()) * bytes + bytesPerMb - 1) / bytesPerMb));
    return std::max(timeout::standard, scaled);
}

// Connecting: attempts (one reset each) and SYNCs per attempt.
inline constexpr int connectAttempts = 7;
inline constexpr int syncsPerAttempt = 5;

}  // namespace esptool::rom
