// The ROM reply parser on one unescaped frame.
//
// Input: the frame's bytes. Invariants, from the reply layout (direction 1, opcode, 16-bit size
// of the data field, 32-bit value, data ending in four status bytes; little-endian):
// - it is a reply exactly when the frame is at least a header long and starts with direction 1;
// - it is well-formed exactly when the size field counts the bytes after the header and those
//   hold the status;
// - a well-formed reply, written back out from its fields, gives the frame again (but for the two
//   status bytes the ROM always sends as zero, which the parser does not keep).

#include "FuzzInput.h"
#include "protocol/RomErrorCode.h"
#include "protocol/RomReply.h"

#include <QtEndian>

using esptool::ReplyParse;

namespace {

constexpr qsizetype headerSize = 8;
constexpr qsizetype statusSize = 4;

QByteArray writtenOut(const esptool::RomReply& reply)
{
    QByteArray frame(headerSize, '\0');
    frame[0] = '\x01';
    frame[1] = static_cast<char>(reply.opcode);
    qToLittleEndian<quint16>(static_cast<quint16>(reply.payload.size() + statusSize),
                             frame.data() + 2);
    qToLittleEndian<quint32>(reply.value, frame.data() + 4);
    frame += reply.payload;
    frame += static_cast<char>(reply.status);
    frame += static_cast<char>(reply.error);
    return frame;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArrayView frame = fuzz::bytes(data, size);
    const ReplyParse parsed = esptool::parseReply(frame);

    const bool isReply = frame.size() >= headerSize && frame[0] == '\x01';
    if (!isReply) {
        fuzz::check(parsed.outcome == ReplyParse::Outcome::notChipReply,
                    "short frames and requests are no replies");
        return 0;
    }
    fuzz::check(parsed.outcome != ReplyParse::Outcome::notChipReply, "a reply header is seen");
    fuzz::check(parsed.reply.opcode == static_cast<quint8>(frame[1]), "opcode from byte 1");
    fuzz::check(parsed.reply.value == qFromLittleEndian<quint32>(frame.data() + 4),
                "value from bytes 4 to 7");

    const qsizetype declared = qFromLittleEndian<quint16>(frame.data() + 2);
    const bool wellFormed = declared == frame.size() - headerSize && declared >= statusSize;
    if (!wellFormed) {
        fuzz::check(parsed.outcome == ReplyParse::Outcome::malformed,
                    "a size field that disagrees with the frame makes it malformed");
        return 0;
    }
    fuzz::check(parsed.outcome == ReplyParse::Outcome::reply, "a consistent frame is a reply");
    fuzz::check(parsed.reply.payload.size() == frame.size() - headerSize - statusSize,
                "the payload is the data field without the status");
    fuzz::check(writtenOut(parsed.reply) == frame.first(frame.size() - 2),
                "the reply written out again gives the frame");
    fuzz::check(parsed.reply.succeeded() == (frame[frame.size() - statusSize] == '\0'),
                "success is a zero status byte");
    fuzz::check(!esptool::romErrorText(parsed.reply.error).isEmpty(), "every error has words");
    return 0;
}
