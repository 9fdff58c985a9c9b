#include "flasher/BaudFallback.h"

namespace esptool {

namespace {

// From one block in three sent again, a line costs at least half again its clean time and
// risks whole pieces: a rate half as fast that is clean is then the better deal.
constexpr double stepDownShare = 1.0 / 3;
// A lower rate whose share is not below this part of the share above it is "no better".
constexpr double noBetterPart = 0.75;

}  // namespace

BaudFallback::BaudFallback(bool enabled)
    : m_enabled(enabled)
{}

BaudFallback::Decision BaudFallback::review(int baud, int sends, int resends, bool stalled)
{
    if (!m_enabled || (!stalled && !windowFull(sends)))
        return {};
    const double share = sends > 0 ? static_cast<double>(resends) / sends : 1.0;
    if (m_above && share >= noBetterPart * m_above->share) {
        // Noise that the rate does not change: no point in looking again. A line that got
        // nowhere here got nowhere above either, so it stays and gives up where it is.
        m_enabled = false;
        if (stalled)
            return {};
        return Decision{Decision::Kind::stepBack, m_above->baud, share};
    }
    if (!stalled && share < stepDownShare) {
        m_above.reset();
        return {};
    }
    for (const int lower : ladder) {
        if (lower < baud) {
            m_above = Left{baud, share};
            return Decision{Decision::Kind::stepDown, lower, share};
        }
    }
    return {};
}

}  // namespace esptool
