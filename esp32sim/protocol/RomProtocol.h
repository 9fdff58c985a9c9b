#pragma once

#include <QtGlobal>

#include <chrono>

// Wire-level constants of the ESP32 ROM loader, named once for the loader and its tests.
namespace esp32sim {

enum class Opcode : quint8
{
    flashBegin = 0x02,
    flashData = 0x03,
    flashEnd = 0x04,
    memBegin = 0x05,
    memEnd = 0x06,
    memData = 0x07,
    sync = 0x08,
    writeReg = 0x09,
    readReg = 0x0A,
    spiSetParams = 0x0B,
    spiAttach = 0x0D,
    readFlashSlow = 0x0E,
    changeBaudrate = 0x0F,
    flashDeflBegin = 0x10,
    flashDeflData = 0x11,
    flashDeflEnd = 0x12,
    spiFlashMd5 = 0x13,
    getSecurityInfo = 0x14,
    // Stub-only commands: the ROM rejects them like any unknown opcode.
    eraseFlash = 0xD0,
    eraseRegion = 0xD1,
    readFlash = 0xD2,
    runUserCode = 0xD3,
};

// Second status byte of a failed ROM reply.
enum class RomError : quint8
{
    undefined = 0x00,
    invalidParameter = 0x01,
    outOfMemory = 0x02,
    sendFailed = 0x03,
    receiveFailed = 0x04,
    invalidMessage = 0x05,  // also the answer to an unknown opcode
    wrongResult = 0x06,
    badChecksum = 0x07,
    flashWriteFailed = 0x08,
    flashReadFailed = 0x09,
    flashReadLength = 0x0A,
    inflateFailed = 0x0B,
    inflateAdlerMismatch = 0x0C,
    inflateParameter = 0x0D,
    ramSize = 0x0E,
    ramAddress = 0x0F,
};

// Why the chip last came out of reset, as the ROM's banner prints it (rst:0xNN) and
// RTC_CNTL_RESET_STATE_REG holds it.
enum class ResetCause : quint8
{
    powerOn = 0x01,      // POWERON_RESET: also what the EN pin gives
    brownOut = 0x0F,     // RTCWDT_BROWN_OUT_RESET: the supply sagged
    rtcWatchdog = 0x10,  // RTCWDT_RTC_RESET
};

inline constexpr quint8 directionRequest = 0x00;
inline constexpr quint8 directionResponse = 0x01;
inline constexpr qsizetype packetHeaderLength = 8;  // direction, opcode, size(2), value/checksum(4)
inline constexpr qsizetype romStatusLength = 4;     // status, error, 0, 0
inline constexpr qsizetype dataCommandHeaderLength = 16;  // len, seq, 0, 0

inline constexpr quint8 checksumSeed = 0xEF;
inline constexpr quint32 syncReplyValue = 0x20120707;
inline constexpr int syncReplyCount = 8;
inline constexpr qsizetype syncPayloadLength = 36;

inline constexpr quint32 initialBaud = 115200;
inline constexpr int bitsPerUartByte = 10;  // 8N1: start bit, 8 data bits, stop bit

inline constexpr quint32 romFlashBlockSize = 0x400;
inline constexpr quint32 romMemBlockLimit = 0x1800;
inline constexpr quint32 readFlashSlowLength = 64;

// Largest SLIP frame the loader buffers: a RAM block with its headers. Longer frames are
// answered with InvalidMessage, as a ROM with a fixed receive buffer would refuse them.
inline constexpr qsizetype maxFrameLength =
    packetHeaderLength + dataCommandHeaderLength + romMemBlockLimit;

}  // namespace esp32sim
