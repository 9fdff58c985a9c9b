#include "link/ResetSequence.h"

#include "link/SerialLink.h"

#include <utility>

using namespace Qt::StringLiterals;

namespace esptool {

namespace {

using Step = ResetSequence::Step;
using Kind = ResetSequence::Step::Kind;

// How long EN stays low; long enough for the chip's power-on reset to take.
constexpr std::chrono::milliseconds resetHold{100};
// How long GPIO0 stays low after EN rises; some boards' capacitors need the long one.
constexpr std::chrono::milliseconds shortStrapHold{50};
constexpr std::chrono::milliseconds longStrapHold{550};

constexpr Step dtr(bool asserted)
{
    return Step{Kind::dtr, asserted, false, {}};
}

constexpr Step rts(bool asserted)
{
    return Step{Kind::rts, asserted, false, {}};
}

constexpr Step lines(bool dtrAsserted, bool rtsAsserted)
{
    return Step{Kind::lines, dtrAsserted, rtsAsserted, {}};
}

constexpr Step wait(std::chrono::milliseconds duration)
{
    return Step{Kind::wait, false, false, duration};
}

}  // namespace

ResetSequence::ResetSequence(QString name, QList<Step> steps)
    : m_name(std::move(name))
    , m_steps(std::move(steps))
{}

ResetSequence ResetSequence::classic(std::chrono::milliseconds strapHold)
{
    return ResetSequence(u"classic reset, GPIO0 held %1 ms"_s.arg(strapHold.count()),
                         {dtr(false), rts(true), wait(resetHold), dtr(true), rts(false),
                          wait(strapHold), dtr(false)});
}

ResetSequence ResetSequence::tight(std::chrono::milliseconds strapHold)
{
    return ResetSequence(u"tight reset, GPIO0 held %1 ms"_s.arg(strapHold.count()),
                         {lines(false, true), wait(resetHold), lines(true, false), wait(strapHold),
                          lines(false, false)});
}

ResetSequence ResetSequence::hardReset()
{
    return ResetSequence(u"hard reset"_s, {rts(true), wait(resetHold), rts(false)});
}

QList<ResetSequence> ResetSequence::enterLoaderSequences()
{
    return {classic(shortStrapHold), tight(shortStrapHold), classic(longStrapHold),
            tight(longStrapHold)};
}

ResetSequence::Outcome ResetSequence::apply(SerialLink& link) const
{
    for (const Step& step : m_steps) {
        bool set = true;
        switch (step.kind) {
        case Kind::dtr:
            set = link.setDataTerminalReady(step.asserted);
            break;
        case Kind::rts:
            set = link.setRequestToSend(step.asserted);
            break;
        case Kind::lines:
            set = link.setModemLines(step.asserted, step.rtsAsserted);
            break;
        case Kind::wait:
            link.pause(step.duration);
            break;
        }
        if (!set)
            return Outcome::noModemLines;
    }
    return Outcome::done;
}

}  // namespace esptool
