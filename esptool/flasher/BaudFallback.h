#pragma once

#include <optional>

namespace esptool {

// When to move a noisy line to another rate. Long, thin or unshielded cables (and some bridges)
// carry 460800 baud cleanly and garble 1500000; noise from elsewhere is the same at every rate,
// and a lower rate then only makes the write slower. So the rate steps down the usual ladder
// while the share of blocks sent again is high, and goes back up once a lower rate proves no
// better than the one above it. Decisions rest on a window of many blocks, never on one burst.
class BaudFallback
{
public:
    // The rates tried, fastest first.
    static constexpr int ladder[] = {1500000, 921600, 460800, 230400, 115200};
    // Blocks sent at a rate before its share of resends counts as evidence.
    static constexpr int windowBlocks = 192;

    struct Decision
    {
        enum class Kind
        {
            stay,
            stepDown,  // too noisy here: to `baud`
            stepBack,  // the lower rate is no better: back up to `baud`, and stay there
        };
        Kind kind = Kind::stay;
        int baud = 0;
        // For the message: the share of blocks sent again at the rate being left.
        double share = 0;
    };

    explicit BaudFallback(bool enabled);

    // Whether the window (`sends` blocks, `resends` of them sends again, at `baud`) is full
    // enough to decide on; the caller clears it once it is.
    static bool windowFull(int sends) { return sends >= windowBlocks; }
    // Between tries, once the window is full; or at once when the line has `stalled` (it got
    // nowhere for many tries), which is evidence enough, and where staying means giving up.
    Decision review(int baud, int sends, int resends, bool stalled);

private:
    struct Left
    {
        int baud = 0;
        double share = 0;
    };

    bool m_enabled;
    std::optional<Left> m_above;  // the rate stepped down from, and its share then
};

}  // namespace esptool
