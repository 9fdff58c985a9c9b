#pragma once

#include <QtGlobal>

// splitmix64: the same bytes on every compiler and standard library, unlike the distributions
// of <random>, so the generated image is reproducible everywhere.
class DeterministicRandom
{
public:
    explicit DeterministicRandom(quint64 seed)
        : m_state(seed)
    {}

    quint64 next()
    {
        quint64 z = (m_state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }

    // Uniform enough for content generation in [0, bound).
    quint32 below(quint32 bound) { return bound == 0 ? 0 : quint32(next() % bound); }
    quint8 byte() { return quint8(next()); }

private:
    quint64 m_state;
};
