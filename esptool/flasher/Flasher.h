#pragma once

#include "failure/Result.h"
#include "flasher/BaudFallback.h"
#include "flasher/ChipSession.h"
#include "flasher/LineHealth.h"
#include "flasher/Options.h"
#include "flasher/SessionKeeper.h"
#include "link/SerialLink.h"

#include <QList>

#include <memory>

namespace esptool {

class FlasherObserver;
struct GuardVerdict;

// A run against an ESP32's ROM loader: a session opened, the flash written or erased piece by
// piece, then the chip let go. Whatever the board does meanwhile (its link goes and comes back,
// it restarts, it falls silent, its line proves too noisy for the rate) is recovered here as
// long as it can be, and otherwise ends the run with one error that names what was seen.
class Flasher final : public SessionKeeper
{
public:
    // `link` is open at settings.connectBaud(); `reopen` opens the same port again after it
    // went away.
    Flasher(std::unique_ptr<SerialLink> link, const SessionSettings& settings, LinkOpener reopen,
            FlasherObserver& observer);

    // Resets the chip into its loader (unless told not to), syncs, makes sure it is an ESP32,
    // tells which one, switches to the rate asked for and attaches the flash.
    Status openSession();

    Status writeFlash(const QList<FlashRegion>& regions, const WriteSettings& settings);
    Status eraseFlash();

    void finish(AfterReset after);

    ChipSession& session() { return m_session; }

    Result<Recovery> recover(const FlasherError& failure, const QString& resuming) override;
    Status reviewLine() override;
    Result<bool> fallBack() override;
    QString noiseAdvice() const override;

private:
    Result<quint32> chooseFlashSize(const FlashSizeChoice& choice);
    Status checkFits(const QList<FlashRegion>& regions, quint32 flashSize) const;
    // Says what the guard found; false when it refused and nothing overrides it.
    Status heed(const GuardVerdict& verdict);
    Result<Recovery> reconnect(const FlasherError& lost, const QString& resuming);
    // The chip fell silent or printed its banner: where is it now?
    Result<Recovery> resync(const QString& resuming);
    Result<Recovery> resumeAfterRestart(quint8 cause, const QString& resuming);
    // Moves the line as the fall-back decided; false when it stays.
    Result<bool> moveRate(bool stalled);

    ChipSession m_session;
    FlasherObserver& m_observer;
    LineHealth m_health;
    BaudFallback m_fallback;
    bool m_fallbackAllowed;
    bool m_force;
    int m_reconnects = 0;
    int m_restarts = 0;
    int m_resyncs = 0;
};

}  // namespace esptool
