#include "protocol/RomReply.h"

#include "protocol/RomProtocol.h"

#include <QtEndian>

using namespace Qt::StringLiterals;

namespace esptool {

ReplyParse parseReply(QByteArrayView frame)
{
    ReplyParse result;
    if (frame.size() < rom::packetHeaderSize ||
        static_cast<quint8>(frame[0]) != rom::replyDirection) {
        return result;
    }
    result.reply.opcode = static_cast<quint8>(frame[1]);
    const auto size = qFromLittleEndian<quint16>(frame.data() + 2);
    result.reply.value = qFromLittleEndian<quint32>(frame.data() + 4);
    const QByteArrayView data = frame.sliced(rom::packetHeaderSize);
    if (data.size() != size || size < rom::romStatusSize) {
        result.outcome = ReplyParse::Outcome::malformed;
        return result;
    }
    const qsizetype payloadSize = data.size() - rom::romStatusSize;
    result.reply.payload = data.first(payloadSize).toByteArray();
    result.reply.status = static_cast<quint8>(data[payloadSize]);
    result.reply.error = static_cast<quint8>(data[payloadSize + 1]);
    result.outcome = ReplyParse::Outcome::reply;
    return result;
}

QString romErrorText(quint8 code)
{
    switch (code) {
    case 0x00:
        return u"undefined error"_s;
    case 0x01:
        return u"invalid parameter"_s;
    case 0x02:
        return u"out of memory"_s;
    case 0x03:
        return u"failed to send a message"_s;
    case 0x04:
        return u"failed to receive a message"_s;
    case 0x05:
        return u"invalid message format or unsupported command"_s;
    case 0x06:
        return u"the operation gave a wrong result"_s;
    case 0x07:
        return u"checksum mismatch"_s;
    case 0x08:
        return u"flash write error (the read-back differs)"_s;
    case 0x09:
        return u"flash read error"_s;
    case 0x0A:
        return u"flash read length error"_s;
    case 0x0B:
        return u"inflate failure"_s;
    case 0x0C:
        return u"Adler-32 mismatch of the compressed data"_s;
    case 0x0D:
        return u"inflate parameter error"_s;
    case 0x0E:
        return u"invalid RAM binary size"_s;
    case 0x0F:
        return u"invalid RAM binary address"_s;
    case 0x64:
        return u"invalid parameter"_s;
    case 0x65:
        return u"invalid format"_s;
    case 0x66:
        return u"description too long"_s;
    case 0x67:
        return u"bad encoding description"_s;
    case 0x69:
        return u"insufficient storage"_s;
    default:
        return u"unknown error"_s;
    }
}

}  // namespace esptool
