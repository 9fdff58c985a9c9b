#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>

namespace esp32sim {

// What a host UART at `hostBaud` reads from bytes sent at `sentBaud` (8N1): for each byte, the
// frame it samples from the byte's falling start edge on, one sample at the middle of each of its
// own bit times. A host at 921600 reading a byte sent at 115200 thus sees the start bit in its
// first seven data bits and the byte's bit 0 in its last: 0x00 or 0x80. Equal rates read the
// bytes as they are.
QByteArray sampledAtRate(QByteArrayView bytes, quint32 sentBaud, quint32 hostBaud);

}  // namespace esp32sim
