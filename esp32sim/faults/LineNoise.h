#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <random>

namespace esp32sim {

// Bit flips on a serial line: each byte has the given chance of arriving with one of its bits
// flipped. Seeded, so that the same run can be repeated.
class LineNoise
{
public:
    LineNoise(double ratePerByte, quint64 seed);

    bool isQuiet() const { return m_rate <= 0; }
    // The bytes as they arrive at the other end.
    void pass(QByteArray& bytes);
    char pass(char byte);
    qint64 flips() const { return m_flips; }

private:
    void drawGap();

    double m_rate;
    std::mt19937_64 m_random;
    qint64 m_cleanBytesLeft = 0;
    qint64 m_flips = 0;
};

}  // namespace esp32sim
