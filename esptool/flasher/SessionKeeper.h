#pragma once

#include "failure/Result.h"

#include <QString>

namespace esptool {

// What the region writer asks of whoever holds the session, when a try failed and between
// pieces: the writer knows the data, the keeper knows the chip, the port and the rate.
class SessionKeeper
{
public:
    enum class Recovery
    {
        carryOn,  // the chip is still in its session: the failure was the line's or the chip's
        resumed,  // the session was lost and is open again: redo the piece from its BEGIN
    };

    virtual ~SessionKeeper() = default;

    // After `failure`: finds out whether the session survived it (a link that went away, a
    // chip that restarted or fell silent), and opens it again where it did not. `resuming` says
    // what will be done again ("writing 0x...-0x... again"). Fails when the session cannot be
    // had again.
    virtual Result<Recovery> recover(const FlasherError& failure, const QString& resuming) = 0;

    // Between tries: may move the line to another rate, on the evidence gathered so far.
    virtual Status reviewLine() = 0;
    // The line got nowhere for many tries at its rate: moves it to a lower one where that may
    // help. False when it may not, and the run gives up.
    virtual Result<bool> fallBack() = 0;

    // What the user should try when the line stays too noisy.
    virtual QString noiseAdvice() const = 0;

protected:
    SessionKeeper() = default;
    SessionKeeper(const SessionKeeper&) = default;
    SessionKeeper& operator=(const SessionKeeper&) = default;
};

}  // namespace esptool
