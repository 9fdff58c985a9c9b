#include "flasher/Flasher.h"

#include "failure/Failure.h"
#include "flasher/FlashParameters.h"
#include "flasher/FlasherObserver.h"
#include "flasher/RegionWriter.h"
#include "flasher/SecurityGuard.h"
#include "link/Trace.h"
#include "protocol/RomProtocol.h"

#include <QElapsedTimer>

using namespace Qt::StringLiterals;

namespace esptool {

namespace {

// Assumed when the flash ID names no size we know.
constexpr quint32 fallbackFlashSize = 4 * 1024 * 1024;
constexpr int reconnectsPerRun = 3;
// A board that restarts more often than this is not going to get through a write.
constexpr int restartsPerRun = 3;
// A chip found again after falling silent, for whatever reason, this often at most: every way
// of losing the session ends in bounded time.
constexpr int resyncsPerRun = 8;

QString hex32(quint32 value)
{
    return u"0x%1"_s.arg(value, 8, 16, QLatin1Char('0'));
}

QString secondsText(qint64 milliseconds)
{
    return QString::number(static_cast<double>(milliseconds) / 1000.0, 'f', 1);
}

}  // namespace

Flasher::Flasher(std::unique_ptr<SerialLink> link, const SessionSettings& settings,
                 LinkOpener reopen, FlasherObserver& observer)
    : m_session(std::move(link), settings, std::move(reopen), observer)
    , m_observer(observer)
    , m_fallback(settings.baudFallback)
    , m_fallbackAllowed(settings.baudFallback)
    , m_force(settings.force)
{}

Status Flasher::openSession()
{
    return m_session.openSession(ChipSession::Start::reset);
}

Result<quint32> Flasher::chooseFlashSize(const FlashSizeChoice& choice)
{
    const Result<std::optional<quint32>> detected = m_session.detectFlashSize();
    if (!detected)
        return detected.error();
    quint32 size = fallbackFlashSize;
    bool setParameters = true;
    if (choice.kind == FlashSizeChoice::Kind::fixed) {
        size = choice.bytes;
    } else if (detected.value()) {
        size = *detected.value();
    } else {
        m_observer.warning(u"Could not tell the flash size; assuming %1."_s.arg(
            flash::sizeName(fallbackFlashSize)));
        // Keeping means trusting the chip's own idea of its flash over a guess.
        setParameters = choice.kind != FlashSizeChoice::Kind::keep;
    }
    if (setParameters) {
        if (Status set = m_session.setFlashParameters(size); !set)
            return set.error();
    }
    return size;
}

Status Flasher::checkFits(const QList<FlashRegion>& regions, quint32 flashSize) const
{
    for (const FlashRegion& region : regions) {
        const quint64 end =
            static_cast<quint64>(region.address) + static_cast<quint64>(region.data.size());
        if (end > flashSize) {
            return failure(Failure::fileDoesNotFit,
                           {region.name, QString::number(region.data.size()), hex32(region.address),
                            flash::sizeName(flashSize)});
        }
    }
    return {};
}

Status Flasher::heed(const GuardVerdict& verdict)
{
    for (const QString& warning : verdict.warnings)
        m_observer.warning(warning);
    if (!verdict.refusal)
        return {};
    if (!m_force)
        return *verdict.refusal;
    m_observer.warning(u"GOING AHEAD BECAUSE OF --force: %1"_s.arg(
        verdict.refusal->message.section(u" Stopped before"_s, 0, 0)));
    return {};
}

Status Flasher::writeFlash(const QList<FlashRegion>& regions, const WriteSettings& settings)
{
    if (Status allowed =
            heed(guardWrite(securityFuses(m_session.efuses()), regions, m_session.path()));
        !allowed) {
        return allowed;
    }
    const Result<quint32> flashSize = chooseFlashSize(settings.size);
    if (!flashSize)
        return flashSize.error();
    if (Status fits = checkFits(regions, flashSize.value()); !fits)
        return fits;

    flash::HeaderPatch patch{settings.mode, settings.frequency, std::nullopt};
    if (settings.size.kind != FlashSizeChoice::Kind::keep)
        patch.sizeBytes = flashSize.value();
    qint64 bytes = 0;
    for (const FlashRegion& region : regions)
        bytes += region.data.size();
    m_health.startRun(bytes, bytes);
    RegionWriter writer(m_session.rom(), m_observer, m_health, *this, settings.skip);
    for (FlashRegion region : regions) {
        const flash::PatchOutcome patched =
            flash::patchImageHeader(region.data, region.address, patch);
        if (patched.kind == flash::PatchOutcome::Kind::notAnImage) {
            m_observer.warning(
                u"%1 at %2 does not look like an ESP32 image; its flash "
                "settings are left alone."_s.arg(region.name, hex32(region.address)));
        } else if (patched.kind == flash::PatchOutcome::Kind::patched) {
            m_observer.info(u"Flash settings in the image header set to 0x%1%2."_s.arg(
                QString::number(patched.parameters, 16).rightJustified(4, u'0'),
                patched.digestUpdated ? u" (image digest updated)"_s : QString()));
        }
        if (Status written = writer.write(region, settings); !written)
            return written;
    }
    return {};
}

Status Flasher::eraseFlash()
{
    if (Status allowed = heed(guardErase(securityFuses(m_session.efuses()), m_session.path()));
        !allowed) {
        return allowed;
    }
    const Result<quint32> flashSize =
        chooseFlashSize(FlashSizeChoice{FlashSizeChoice::Kind::detect, 0});
    if (!flashSize)
        return flashSize.error();
    m_health.startRun(0, flashSize.value());
    RegionWriter writer(m_session.rom(), m_observer, m_health, *this, false);
    return writer.eraseAll(flashSize.value());
}

void Flasher::finish(AfterReset after)
{
    m_session.finish(after);
}

Result<SessionKeeper::Recovery> Flasher::recover(const FlasherError& failure,
                                                 const QString& resuming)
{
    qCDebug(protocolTrace).noquote() << u"recovering from: "_s + failure.message;
    switch (failure.kind) {
    case ErrorKind::linkLost:
        return reconnect(failure, resuming);
    case ErrorKind::chipRestarted:
        return resync(resuming);
    case ErrorKind::timeout:
    case ErrorKind::garbledReply: {
        // Silence, or garbage then silence, is what a restart looks like at any rate but the
        // ROM's own: rule it out before the line is blamed.
        const Result<bool> inSession = m_session.answersInSession();
        if (!inSession)
            return recover(inSession.error(), resuming);
        if (inSession.value())
            return Recovery::carryOn;
        return resync(resuming);
    }
    case ErrorKind::romError:
    case ErrorKind::md5Mismatch:
        // The flash failing on a noisy line may be an attach or flash size that reached the chip
        // damaged: those are set again before the next try.
        if (m_health.hasSeenNoise() && !m_health.isLineDamage(failure)) {
            if (Status reattached = m_session.reattachFlash(); !reattached)
                return recover(reattached.error(), resuming);
        }
        return Recovery::carryOn;
    default:
        return Recovery::carryOn;
    }
}

Result<SessionKeeper::Recovery> Flasher::reconnect(const FlasherError& lost,
                                                   const QString& resuming)
{
    if (m_reconnects >= reconnectsPerRun)
        return lost;
    ++m_reconnects;
    QElapsedTimer away;
    away.start();
    if (Status back = m_session.reconnect(lost); !back)
        return back.error();
    m_observer.info(u"The link to the board on %1 dropped and came back after %2 s; connected "
                    "again, %3."_s.arg(m_session.path(), secondsText(away.elapsed()), resuming));
    return Recovery::resumed;
}

Result<SessionKeeper::Recovery> Flasher::resync(const QString& resuming)
{
    if (++m_resyncs > resyncsPerRun) {
        return failure(Failure::stoppedAnswering,
                       {m_session.path(), QString::number(m_session.sessionBaud())});
    }
    const int sessionRate = m_session.rom().baud();
    const Result<ChipSession::Resync> heard = m_session.listenForRestart();
    if (!heard)
        return heard.error().kind == ErrorKind::linkLost ? reconnect(heard.error(), resuming)
                                                         : Result<Recovery>(heard.error());
    const ChipSession::Resync& found = heard.value();
    const QString& port = m_session.path();
    if (found.synced) {
        // Only evidence says "restarted": a banner read, or a chip that answers at the rate it
        // starts at although the session had moved it to another.
        if (found.banner || sessionRate != rom::initialBaud)
            return resumeAfterRestart(
                found.banner ? found.banner->resetCause : found.resetCause.value_or(0), resuming);
        if (Status opened = m_session.openSession(ChipSession::Start::synced); !opened)
            return opened.error();
        m_observer.info(u"The chip stopped answering for a while and answered again; connected "
                        "again, %1."_s.arg(resuming));
        return Recovery::resumed;
    }
    if (found.banner && found.banner->bootsFromFlash()) {
        const BootBanner& banner = *found.banner;
        const QString what =
            banner.flashReadError
                ? u"now keeps restarting: it boots its half-written flash, which fails (\"flash "
                  "read err\"), and its watchdog restarts it (\"rst:0x%1 (%2)\")"_s.arg(
                      QString::number(banner.resetCause, 16), resetCauseName(banner.resetCause))
                : u"started its own firmware (\"%1\")"_s.arg(banner.bootText);
        if (++m_restarts > restartsPerRun || !m_session.hasModemLines() ||
            m_session.before() == BeforeReset::noReset) {
            const QString why = m_restarts > restartsPerRun
                                    ? u"it restarted %1 times"_s.arg(m_restarts)
                                    : u"the port has no modem-control lines, so it cannot be "
                                      "reset into its loader from here"_s;
            return failure(Failure::restartingForGood, {port, what, why});
        }
        if (Status opened = m_session.openSession(ChipSession::Start::reset); !opened)
            return opened.error();
        m_observer.info(u"The board restarted during the write and %1; reset it into its loader, "
                        "%2."_s.arg(what, resuming));
        return Recovery::resumed;
    }
    // Nothing at 115200: the chip may only have been busy, or deaf for a moment, at its rate.
    const Result<bool> back = m_session.syncAtSessionRate();
    if (!back)
        return back.error().kind == ErrorKind::linkLost ? reconnect(back.error(), resuming)
                                                        : Result<Recovery>(back.error());
    if (back.value() ||
        (m_session.hasModemLines() && m_session.before() == BeforeReset::defaultReset)) {
        const auto start = back.value() ? ChipSession::Start::synced : ChipSession::Start::reset;
        if (Status opened = m_session.openSession(start); !opened)
            return opened.error();
        m_observer.info(u"The chip stopped answering and was %1; connected again, %2."_s.arg(
            back.value() ? u"heard again"_s : u"reset into its loader"_s, resuming));
        return Recovery::resumed;
    }
    return failure(Failure::stoppedAnswering, {port, QString::number(m_session.sessionBaud())});
}

Result<SessionKeeper::Recovery> Flasher::resumeAfterRestart(quint8 cause, const QString& resuming)
{
    const QString meaning = resetCauseMeaning(cause);
    if (++m_restarts > restartsPerRun) {
        return failure(Failure::restartedTooOften,
                       {m_session.path(), QString::number(m_restarts), meaning});
    }
    if (Status opened = m_session.openSession(ChipSession::Start::synced); !opened)
        return opened.error();
    m_observer.info(u"The board restarted during the write (%1); connected again, %2."_s.arg(
        meaning, resuming));
    return Recovery::resumed;
}

Status Flasher::reviewLine()
{
    if (!BaudFallback::windowFull(m_health.windowSends()))
        return {};
    const Result<bool> moved = moveRate(false);
    return moved ? Status() : Status(moved.error());
}

Result<bool> Flasher::fallBack()
{
    return moveRate(true);
}

Result<bool> Flasher::moveRate(bool stalled)
{
    const int baud = m_session.rom().baud();
    const int sends = m_health.windowSends();
    const int resends = m_health.windowResends();
    const BaudFallback::Decision decision = m_fallback.review(baud, sends, resends, stalled);
    m_health.clearWindow();
    if (decision.kind == BaudFallback::Decision::Kind::stay)
        return false;
    // A restart looks like noise from afar. If the chip is not in its session the rate stays as
    // it is, and the next command finds out what happened.
    const Result<bool> inSession = m_session.answersInSession();
    if (!inSession || !inSession.value())
        return false;
    // Opened again at the new rate: a baud change that had to look for the chip synced it, and
    // after any sync the flash is attached and described again.
    m_session.setSessionBaud(decision.baud);
    if (Status reopened = m_session.openSession(ChipSession::Start::synced); !reopened)
        return reopened.error();
    m_health.progress();
    const QString figures = u"%1 of %2 blocks sent again"_s.arg(resends).arg(sends);
    if (decision.kind == BaudFallback::Decision::Kind::stepDown) {
        m_observer.info(u"The line is too noisy at %1 baud (%2); continuing at %3."_s.arg(baud)
                            .arg(figures)
                            .arg(decision.baud));
    } else {
        m_observer.info(u"The line is no better at %1 baud (%2); continuing at %3."_s.arg(baud)
                            .arg(figures)
                            .arg(decision.baud));
    }
    return true;
}

QString Flasher::noiseAdvice() const
{
    // Once the rates below have been tried, a lower one is no advice.
    if (m_fallbackAllowed)
        return u"Try another (shorter) USB cable, or another USB port or adapter."_s;
    return u"Try a lower baud rate, or another (shorter) USB cable."_s;
}

}  // namespace esptool
