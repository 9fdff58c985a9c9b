#pragma once

#include <QByteArray>

// Reply frames as the ESP32 ROM sends them, SLIP-framed, for scripting fake links.
namespace romreplies {

// 01 <op> <size> <value> <payload> <status> <error> 00 00, framed.
QByteArray frame(quint8 opcode, quint32 value = 0, const QByteArray& payload = {},
                 quint8 status = 0, quint8 error = 0);
// The ROM's eight answers to one SYNC.
QByteArray syncReplies();
// The opcode of a request written to the link (first frame), or -1.
int requestOpcode(const QByteArray& written);
// The first data word of that request.
quint32 requestWord(const QByteArray& written, int index);

}  // namespace romreplies
