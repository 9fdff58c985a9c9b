#include "flasher/SkipPolicy.h"

#include <algorithm>

namespace esptool {

namespace {

// Checks that found nothing may cost this part of the time spent writing, once checking ahead
// has stopped: a board that holds something else then pays at most that much for them.
constexpr double wasteBudget = 0.01;
// Until the chip has answered a check: a round 2 MB/s, and a millisecond on the line.
constexpr double assumedHashMsPerByte = 1.0 / 2000.0;
constexpr double assumedRoundTripMs = 1.0;

}  // namespace

SkipPolicy::SkipPolicy(bool enabled)
    : m_enabled(enabled)
{}

bool SkipPolicy::shouldCheck(bool erased) const
{
    if (!m_enabled)
        return false;
    if (m_consecutiveMisses < missesToStop)
        return true;
    return erased && m_wastedMs <= wasteBudget * static_cast<double>(m_writingMs);
}

bool SkipPolicy::shouldNarrow() const
{
    // The piece before matched, or there was none: the board likely holds most of this one.
    return m_enabled && (m_checks == 0 || m_lastMatched);
}

void SkipPolicy::roundTrip(qint64 milliseconds)
{
    const auto ms = static_cast<double>(milliseconds);
    m_roundTripMs = m_roundTripMs < 0 ? ms : std::min(m_roundTripMs, ms);
}

double SkipPolicy::checkCost(qint64 bytes) const
{
    const double roundTrip = m_roundTripMs < 0 ? assumedRoundTripMs : m_roundTripMs;
    const double perByte = m_hashMsPerByte < 0 ? assumedHashMsPerByte : m_hashMsPerByte;
    return roundTrip + perByte * static_cast<double>(bytes);
}

void SkipPolicy::checked(qint64 bytes, qint64 milliseconds, bool matched)
{
    ++m_checks;
    m_lastMatched = matched;
    m_consecutiveMisses = matched ? 0 : m_consecutiveMisses + 1;
    if (!matched)
        m_wastedMs += static_cast<double>(milliseconds);
    // Only a check long enough to show the hashing through the round trip teaches its rate.
    const double roundTrip = m_roundTripMs < 0 ? assumedRoundTripMs : m_roundTripMs;
    const double hashing = static_cast<double>(milliseconds) - roundTrip;
    if (bytes > 0 && hashing > roundTrip) {
        const double perByte = hashing / static_cast<double>(bytes);
        m_hashMsPerByte = m_hashMsPerByte < 0 ? perByte : (m_hashMsPerByte + perByte) / 2;
    }
}

SkipPolicy::Search SkipPolicy::search(int sectors, quint32 sectorSize) const
{
    // By sector: every sector once. By halves: at each level half the stretch, and the other
    // half too when the first differs (one time in two), down to one sector.
    const double bySector = sectors * checkCost(sectorSize);
    double byHalves = 0;
    for (qint64 half = qint64{sectors} * sectorSize / 2; half >= sectorSize; half /= 2)
        byHalves += 1.5 * checkCost(half);
    return byHalves < bySector ? Search::byHalves : Search::bySector;
}

}  // namespace esptool
