#pragma once

#include "failure/FlasherError.h"

#include <QElapsedTimer>
#include <QString>

#include <algorithm>
#include <chrono>

namespace esptool {

// How the line has behaved during a run, and where recovery stops trying. Damage on the line is
// retried for as long as the run keeps getting somewhere; a run that stops getting anywhere, or
// takes far longer than its data can need, ends with one error that names the cause.
class LineHealth
{
public:
    // Failed sends in a row (a block sent again, a command repeated, a piece begun again) with
    // no block getting through meanwhile: past this, the line is taken to carry nothing. At one
    // flipped byte in a thousand a 1 KiB block fails about two times in three, so forty failures
    // in a row come once in some tens of millions of blocks.
    static constexpr int maxConsecutiveFailures = 40;
    // Tries of one piece in a row that get no further into it than an earlier try did: blocks
    // that go through again and again without the piece ever finishing are no progress.
    static constexpr int triesGettingNowhere = 8;
    // A piece the chip itself fails (a flash write error, a digest two answers agree on) is tried
    // this often: retrying a flash that will not take the data gets nowhere however long it runs.
    static constexpr int pieceAttempts = 6;

    LineHealth();

    // Starts the clock of a run that sends `wireBytes` and touches `flashBytes` of flash: it may
    // take a few minutes, plus a few times the data's wire time at the ROM's 115200 baud, plus
    // the ROM's own erase budget.
    void startRun(qint64 wireBytes, qint64 flashBytes);

    // Something got through: a block, or a whole piece or stretch.
    void progress();
    void failedTry() { ++m_consecutiveFailures; }
    // Nothing got through for too many tries in a row, or the run's time is up.
    bool stalled() const;
    bool outOfTime() const;

    // How far into its piece the current try got, in bytes.
    void startTry();
    // The try ended because the session was lost (a link gone, a chip restarted): what it sent
    // again was the session's doing, not the line's.
    void forgetTry();
    // Whether a block of the current try had to be sent more than once.
    bool triedAgainInThisTry() const { return m_blocksSentAgain > m_blocksSentAgainBeforeTry; }
    void reached(qint64 bytes) { m_reached = std::max(m_reached, bytes); }
    qint64 reachedInTry() const { return m_reached; }

    // For the rate fall-back: every data block sent, and whether it was a send again.
    void blockSent() { ++m_windowSends; }
    void blockSentAgain();
    void pieceTriedAgain() { ++m_piecesTriedAgain; }
    int windowSends() const { return m_windowSends; }
    int windowResends() const { return m_windowResends; }
    void clearWindow();
    // Whether the line has damaged a data block yet in this run.
    bool hasSeenNoise() const { return m_blocksSentAgain > 0; }

    // What the run ends with when `what` (a piece) still failed, last with `last`, at `baud`.
    // Damage on the line (refused, garbled or missing replies) becomes one "too noisy" error
    // with the figures; anything else (a flash that will not take the data) is reported as it
    // is. `advice` is what to try next.
    FlasherError giveUp(const QString& what, const FlasherError& last, int baud,
                        const QString& advice) const;

    // "12 block(s) sent again, 2 piece(s) written again", or empty when nothing was.
    QString summary() const;

    // Damage on the line, as opposed to the chip's own verdict. The ROM's checksum lets some
    // damaged blocks through, so on a line that has shown noise a piece that reads back wrong
    // or will not inflate counts as the line's doing too.
    bool isLineDamage(const FlasherError& error) const;

private:
    int m_consecutiveFailures = 0;
    qint64 m_reached = 0;
    int m_blocksSentAgainBeforeTry = 0;
    int m_blocksSentAgain = 0;
    int m_piecesTriedAgain = 0;
    int m_windowSends = 0;
    int m_windowResends = 0;
    QElapsedTimer m_runClock;
    std::chrono::milliseconds m_runLimit{0};
};

}  // namespace esptool
