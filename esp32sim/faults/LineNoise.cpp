#include "esp32sim/faults/LineNoise.h"

namespace esp32sim {

namespace {

constexpr int bitsPerByte = 8;

}  // namespace

LineNoise::LineNoise(double ratePerByte, quint64 seed)
    : m_rate(ratePerByte)
    , m_random(seed)
{
    drawGap();
}

void LineNoise::drawGap()
{
    // The bytes until the next flip are geometrically distributed; drawing the gap instead of
    // a number per byte keeps a quiet line cheap.
    if (m_rate > 0)
        m_cleanBytesLeft = std::geometric_distribution<qint64>(m_rate)(m_random);
}

char LineNoise::pass(char byte)
{
    if (m_rate <= 0)
        return byte;
    if (m_cleanBytesLeft > 0) {
        --m_cleanBytesLeft;
        return byte;
    }
    const auto bit = std::uniform_int_distribution<int>(0, bitsPerByte - 1)(m_random);
    ++m_flips;
    drawGap();
    return static_cast<char>(static_cast<quint8>(byte) ^ (1u << bit));
}

void LineNoise::pass(QByteArray& bytes)
{
    if (m_rate <= 0)
        return;
    for (char& byte : bytes)
        byte = pass(byte);
}

}  // namespace esp32sim
