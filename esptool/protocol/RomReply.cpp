#include "protocol/RomReply.h"

#include "protocol/RomProtocol.h"

#include <QtEndian>

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

}  // namespace esptool
