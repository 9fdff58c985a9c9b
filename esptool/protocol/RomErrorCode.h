#pragma once

#include "protocol/RomProtocol.h"

#include <QString>

namespace esptool {

// The second status byte of a failed ESP32 ROM reply, named once. Each code has its words and,
// where the user can do something about it, a hint (see romErrorText / romErrorHint).
enum class RomErrorCode : quint8
{
    undefined = 0x00,
    invalidParameter = 0x01,
    outOfMemory = 0x02,
    sendFailed = 0x03,
    receiveFailed = 0x04,
    invalidMessage = 0x05,  // also the answer to an unknown opcode
    wrongResult = 0x06,
    badChecksum = 0x07,
    flashWriteFailed = 0x08,  // the ROM reads every block back; it differed
    flashReadFailed = 0x09,
    flashReadLength = 0x0A,
    inflateFailed = 0x0B,
    inflateChecksum = 0x0C,  // Adler-32 of the inflated data
    inflateParameter = 0x0D,
    ramSize = 0x0E,
    ramAddress = 0x0F,
    badParameter = 0x64,
    badFormat = 0x65,
    descriptionTooLong = 0x66,
    badEncoding = 0x67,
    insufficientStorage = 0x69,
};

// What the code means, in words ("checksum mismatch"); "unknown error" for a code not listed.
QString romErrorText(quint8 code);
// What the user can do about it, or nothing.
QString romErrorHint(quint8 code);
// The chip refused the request as it arrived (damaged on the way: bad checksum, or a length
// that disagrees with the bytes), so it did nothing with it and the same request may be sent
// again.
bool romRefusedUnapplied(quint8 code);
// Whether the ROM answers `opcode` with this code at all. A failure with a code it never gives
// for the command (0x00 above all) is a reply whose status bytes were damaged on the way back,
// on a noisy line: the chip may well have carried the command out.
bool romCodeExpected(rom::Opcode opcode, quint8 code);

}  // namespace esptool
