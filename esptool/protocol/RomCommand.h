#pragma once

#include "protocol/RomProtocol.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <chrono>

// Requests to the ROM loader, built as unescaped packets. Pure functions: nothing here touches
// a port.
namespace esptool {

struct RomRequest
{
    rom::Opcode opcode = rom::Opcode::sync;
    // Header and data, before SLIP escaping.
    QByteArray packet;
    // How long the ROM may take to answer it: the standard wait, or the flash work it asks for
    // (an erase, a write, a hash) scaled by the bytes it touches.
    std::chrono::milliseconds timeout = rom::timeout::standard;
};

namespace command {

// XOR of the bytes, seeded with 0xEF: the checksum of the *_DATA commands.
quint8 checksum(QByteArrayView data);

// Header (direction, opcode, size, checksum) followed by the data.
RomRequest packet(rom::Opcode opcode, QByteArrayView data, quint32 checksum = 0);

RomRequest sync();
RomRequest readReg(quint32 address);
RomRequest writeReg(quint32 address, quint32 value, quint32 mask = 0xFFFFFFFF, quint32 delayUs = 0);
RomRequest spiAttach(quint32 pinConfig);
RomRequest spiSetParams(quint32 totalSize);
// The ROM wants 0 as the second word (a stub would want the current rate).
RomRequest changeBaudrate(quint32 newBaud);
RomRequest flashBegin(quint32 eraseSize, quint32 blockCount, quint32 blockSize, quint32 offset);
RomRequest flashData(quint32 sequence, QByteArrayView block);
RomRequest flashDeflBegin(quint32 writeSize, quint32 blockCount, quint32 blockSize, quint32 offset);
// `inflatedSize`: the flash bytes the block becomes, which the ROM writes before it answers
// (unknown: the standard timeout).
RomRequest flashDeflData(quint32 sequence, QByteArrayView block, quint32 inflatedSize = 0);
RomRequest spiFlashMd5(quint32 address, quint32 size);

}  // namespace command

// The command's name as the messages show it, e.g. "FLASH_DEFL_DATA".
QString opcodeName(rom::Opcode opcode);

}  // namespace esptool
