#include "protocol/RomErrorCode.h"

#include "failure/Failure.h"

#include <array>

using namespace Qt::StringLiterals;

namespace esptool {

namespace {

struct CodeWords
{
    RomErrorCode code;
    const char16_t* text;
    const char16_t* hint;  // nullptr: none
};

constexpr const char16_t* lineHint = hint::line;
constexpr const char16_t* flashHint = u"The flash chip may be write-protected or faulty.";

constexpr std::array<CodeWords, 21> codes{{
    {RomErrorCode::undefined, u"undefined error", nullptr},
    {RomErrorCode::invalidParameter, u"invalid parameter", nullptr},
    {RomErrorCode::outOfMemory, u"out of memory", nullptr},
    {RomErrorCode::sendFailed, u"failed to send a message", lineHint},
    {RomErrorCode::receiveFailed, u"failed to receive a message", lineHint},
    {RomErrorCode::invalidMessage, u"invalid message format or unsupported command", lineHint},
    {RomErrorCode::wrongResult, u"the operation gave a wrong result", nullptr},
    {RomErrorCode::badChecksum, u"checksum mismatch", lineHint},
    {RomErrorCode::flashWriteFailed, u"flash write error (the read-back differs)", flashHint},
    {RomErrorCode::flashReadFailed, u"flash read error", flashHint},
    {RomErrorCode::flashReadLength, u"flash read length error", nullptr},
    {RomErrorCode::inflateFailed, u"inflate failure", lineHint},
    {RomErrorCode::inflateChecksum, u"Adler-32 mismatch of the compressed data", lineHint},
    {RomErrorCode::inflateParameter, u"inflate parameter error", nullptr},
    {RomErrorCode::ramSize, u"invalid RAM binary size", nullptr},
    {RomErrorCode::ramAddress, u"invalid RAM binary address", nullptr},
    {RomErrorCode::badParameter, u"invalid parameter", nullptr},
    {RomErrorCode::badFormat, u"invalid format", nullptr},
    {RomErrorCode::descriptionTooLong, u"description too long", nullptr},
    {RomErrorCode::badEncoding, u"bad encoding description", nullptr},
    {RomErrorCode::insufficientStorage, u"insufficient storage", nullptr},
}};

const CodeWords* find(quint8 code)
{
    for (const CodeWords& entry : codes) {
        if (static_cast<quint8>(entry.code) == code)
            return &entry;
    }
    return nullptr;
}

}  // namespace

QString romErrorText(quint8 code)
{
    const CodeWords* entry = find(code);
    return entry != nullptr ? QString::fromUtf16(entry->text) : u"unknown error"_s;
}

QString romErrorHint(quint8 code)
{
    const CodeWords* entry = find(code);
    return entry != nullptr && entry->hint != nullptr ? QString::fromUtf16(entry->hint) : QString();
}

bool romRefusedUnapplied(quint8 code)
{
    const auto named = static_cast<RomErrorCode>(code);
    return named == RomErrorCode::badChecksum || named == RomErrorCode::invalidMessage;
}

bool romCodeExpected(rom::Opcode opcode, quint8 code)
{
    using rom::Opcode;
    const auto named = static_cast<RomErrorCode>(code);
    // Any command can arrive damaged or out of order.
    if (named == RomErrorCode::invalidParameter || named == RomErrorCode::invalidMessage)
        return true;
    switch (opcode) {
    case Opcode::flashData:
    case Opcode::flashDeflData:
        return named == RomErrorCode::badChecksum || named == RomErrorCode::flashWriteFailed ||
               named == RomErrorCode::flashReadFailed || named == RomErrorCode::inflateFailed ||
               named == RomErrorCode::inflateChecksum || named == RomErrorCode::inflateParameter;
    case Opcode::flashBegin:
    case Opcode::flashDeflBegin:
    case Opcode::flashEnd:
    case Opcode::flashDeflEnd:
        return named == RomErrorCode::flashWriteFailed || named == RomErrorCode::flashReadFailed;
    case Opcode::spiFlashMd5:
        return named == RomErrorCode::flashReadFailed;
    default:
        return false;
    }
}

}  // namespace esptool
