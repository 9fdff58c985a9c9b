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

constexpr Step dtr(bool asserted)
{
    return Step{Kind::dtr, asserted, {}};
}

constexpr Step rts(bool asserted)
{
    return Step{Kind::rts, asserted, {}};
}

constexpr Step wait(std::chrono::milliseconds duration)
{
    return Step{Kind::wait, false, duration};
}

}  // namespace

ResetSequence::ResetSequence(QString name, QList<Step> steps)
    : m_name(std::move(name))
    , m_steps(std::move(steps))
{}

ResetSequence ResetSequence::enterLoader(std::chrono::milliseconds strapHold)
{
    return ResetSequence(u"reset into the loader"_s,
                         {dtr(false), rts(true), wait(resetHold), dtr(true), rts(false),
                          wait(strapHold), dtr(false)});
}

ResetSequence ResetSequence::hardReset()
{
    return ResetSequence(u"hard reset"_s, {rts(true), wait(resetHold), rts(false)});
}

ResetSequence::Outcome ResetSequence::apply(SerialLink& link) const
{
    for (const Step& step : m_steps) {
        switch (step.kind) {
        case Kind::dtr:
            if (!link.setDataTerminalReady(step.asserted))
                return Outcome::noModemLines;
            break;
        case Kind::rts:
            if (!link.setRequestToSend(step.asserted))
                return Outcome::noModemLines;
            break;
        case Kind::wait:
            link.pause(step.duration);
            break;
        }
    }
    return Outcome::done;
}

}  // namespace esptool
