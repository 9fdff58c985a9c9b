#pragma once

#include <QtGlobal>

#include <chrono>

// Wire-level constants of the ESP32 ROM loader, named once for the loader and its tests.
namespace esp32sim {

enum class Opcode : quint8
{
    FlashBegin = 0x02,
    FlashData = 0x03,
    FlashEnd = 0x04,
    MemBegin = 0x05,
    MemEnd = 0x06,
    MemData = 0x07,
    Sync = 0x08,
    WriteReg = 0x09,
    ReadReg = 0x0A,
    SpiSetParams = 0x0B,
    SpiAttach = 0x0D,
    ReadFlashSlow = 0x0E,
    ChangeBaudrate = 0x0F,
    FlashDeflBegin = 0x10,
    FlashDeflData = 0x11,
    FlashDeflEnd = 0x12,
    SpiFlashMd5 = 0x13,
    GetSecurityInfo = 0x14,
    // Stub-only commands: the ROM rejects them like any unknown opcode.
    EraseFlash = 0xD0,
    EraseRegion = 0xD1,
    ReadFlash = 0xD2,
    RunUserCode = 0xD3,
};

// Second status byte of a failed ROM reply.
enum class RomError : quint8
{
    Undefined = 0x00,
    InvalidParameter = 0x01,
    OutOfMemory = 0x02,
    SendFailed = 0x03,
    ReceiveFailed = 0x04,
    InvalidMessage = 0x05,  // also the answer to an unknown opcode
    WrongResult = 0x06,
    BadChecksum = 0x07,
    FlashWriteFailed = 0x08,
    FlashReadFailed = 0x09,
    FlashReadLength = 0x0A,
    InflateFailed = 0x0B,
    InflateAdlerMismatch = 0x0C,
    InflateParameter = 0x0D,
    RamSize = 0x0E,
    RamAddress = 0x0F,
};

inline constexpr quint8 kDirectionRequest = 0x00;
inline constexpr quint8 kDirectionResponse = 0x01;
inline constexpr qsizetype kPacketHeaderLength =
    8;                                            // direction, opcode, size(2), value/checksum(4)
inline constexpr qsizetype kRomStatusLength = 4;  // status, error, 0, 0
inline constexpr qsizetype kDataCommandHeaderLength = 16;  // len, seq, 0, 0

inline constexpr quint8 kChecksumSeed = 0xEF;
inline constexpr quint32 kSyncReplyValue = 0x20120707;
inline constexpr int kSyncReplyCount = 8;
inline constexpr qsizetype kSyncPayloadLength = 36;

inline constexpr quint32 kInitialBaud = 115200;
inline constexpr int kBitsPerUartByte = 10;  // 8N1: start bit, 8 data bits, stop bit

inline constexpr quint32 kRomFlashBlockSize = 0x400;
inline constexpr quint32 kRomMemBlockLimit = 0x1800;
inline constexpr quint32 kReadFlashSlowLength = 64;
inline constexpr quint32 kMd5HexLength = 32;

// Largest SLIP frame the loader buffers: a RAM block with its headers. Longer frames are
// answered with InvalidMessage, as a ROM with a fixed receive buffer would refuse them.
inline constexpr qsizetype kMaxFrameLength =
    kPacketHeaderLength + kDataCommandHeaderLength + kRomMemBlockLimit;

}  // namespace esp32sim
