#include "RomReplies.h"

#include "protocol/Slip.h"

#include <QtEndian>

namespace romreplies {

QByteArray frame(quint8 opcode, quint32 value, const QByteArray& payload, quint8 status,
                 quint8 error)
{
    QByteArray packet;
    packet.append('\x01');
    packet.append(static_cast<char>(opcode));
    char word[4];
    qToLittleEndian<quint16>(static_cast<quint16>(payload.size() + 4), word);
    packet.append(word, 2);
    qToLittleEndian<quint32>(value, word);
    packet.append(word, 4);
    packet.append(payload);
    packet.append(static_cast<char>(status));
    packet.append(static_cast<char>(error));
    packet.append(2, '\0');
    return esptool::slip::encode(packet);
}

QByteArray syncReplies()
{
    QByteArray replies;
    for (int i = 0; i < 8; ++i)
        replies += frame(0x08, 0x20120707);
    return replies;
}

int requestOpcode(const QByteArray& written)
{
    const esptool::slip::DecodeResult decoded = esptool::slip::decode(written);
    if (decoded.frames.isEmpty() || decoded.frames[0].bytes.size() < 8)
        return -1;
    return static_cast<quint8>(decoded.frames[0].bytes[1]);
}

quint32 requestWord(const QByteArray& written, int index)
{
    const esptool::slip::DecodeResult decoded = esptool::slip::decode(written);
    if (decoded.frames.isEmpty())
        return 0;
    const QByteArray& bytes = decoded.frames[0].bytes;
    const qsizetype offset = 8 + 4 * index;
    if (bytes.size() < offset + 4)
        return 0;
    return qFromLittleEndian<quint32>(bytes.constData() + offset);
}

}  // namespace romreplies
