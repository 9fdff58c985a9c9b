#include "esp32sim/faults/UartSampling.h"

namespace esp32sim {

namespace {

constexpr int dataBits = 8;
constexpr quint64 halfBitsAtSampleZero = 3;  // the first data bit's middle: 1.5 bits in

quint8 sampledByte(quint8 byte, quint64 sentBaud, quint64 hostBaud)
{
    quint8 out = 0;
    for (int bit = 0; bit < dataBits; ++bit) {
        // The sample's time in the sender's bit times: (1.5 + bit) host bits.
        const quint64 sentBit =
            (halfBitsAtSampleZero + 2 * quint64(bit)) * sentBaud / (2 * hostBaud);
        // 0: the start bit (low); 1-8: the data bits; later: the stop bit and the idle line.
        const bool high =
            sentBit == 0 ? false : sentBit > dataBits || ((byte >> (sentBit - 1)) & 1);
        out |= quint8(high ? 1U << bit : 0U);
    }
    return out;
}

}  // namespace

QByteArray sampledAtRate(QByteArrayView bytes, quint32 sentBaud, quint32 hostBaud)
{
    if (sentBaud == hostBaud || hostBaud == 0)
        return bytes.toByteArray();
    QByteArray out(bytes.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < bytes.size(); ++i)
        out[i] = char(sampledByte(quint8(bytes[i]), sentBaud, hostBaud));
    return out;
}

}  // namespace esp32sim
