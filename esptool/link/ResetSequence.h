#pragma once

#include <QList>
#include <QString>

#include <chrono>

namespace esptool {

class SerialLink;

// A reset of the chip through DTR and RTS, written down as steps. With the usual two-transistor
// wiring RTS drives EN (asserted: chip held in reset) and DTR drives GPIO0 (asserted: boot
// into the loader); asserting both together changes nothing.
class ResetSequence
{
public:
    struct Step
    {
        enum class Kind
        {
            dtr,
            rts,
            lines,  // DTR (`asserted`) and RTS (`rtsAsserted`) in one call
            wait,
        };
        Kind kind = Kind::wait;
        bool asserted = false;
        bool rtsAsserted = false;
        std::chrono::milliseconds duration{0};

        friend bool operator==(const Step&, const Step&) = default;
    };

    enum class Outcome
    {
        done,
        // The port has no modem-control lines; nothing was changed or waited for.
        noModemLines,
    };

    // Hold EN low with GPIO0 high, then release EN while GPIO0 is low so the ROM starts its
    // serial loader, then release GPIO0 after `strapHold`. The lines change one at a time.
    static ResetSequence classic(std::chrono::milliseconds strapHold);
    // The same with both lines set in one call at every step: some USB bridges glitch when the
    // two change one after the other.
    static ResetSequence tight(std::chrono::milliseconds strapHold);
    // A pulse on EN with GPIO0 high: the chip starts the application it has in flash.
    static ResetSequence hardReset();
    // What connecting tries, one per attempt and then over again: boards differ in how they
    // are wired and in how long GPIO0 must stay low after EN rises.
    static QList<ResetSequence> enterLoaderSequences();

    const QString& name() const { return m_name; }
    const QList<Step>& steps() const { return m_steps; }

    // Runs the steps in order. Stops at the first line the port cannot set, before any wait.
    Outcome apply(SerialLink& link) const;

private:
    ResetSequence(QString name, QList<Step> steps);

    QString m_name;
    QList<Step> m_steps;
};

}  // namespace esptool
