#pragma once

#include "flasher/FlasherError.h"

#include <QString>

namespace esptool {

// How the line has behaved during a run, and where recovery stops trying: a line that keeps
// failing ends in bounded time with one error that names the cause.
class LineHealth
{
public:
    // A data block the chip refused as damaged, this often in a row, ends the piece's try.
    static constexpr int blockSends = 6;
    // A piece (BEGIN, its blocks, MD5) is tried this often before the run gives up.
    static constexpr int pieceAttempts = 6;

    explicit LineHealth(int baud);
    void setBaud(int baud) { m_baud = baud; }

    void blockSentAgain() { ++m_blocksSentAgain; }
    void pieceTriedAgain() { ++m_piecesTriedAgain; }
    int blocksSentAgain() const { return m_blocksSentAgain; }
    int piecesTriedAgain() const { return m_piecesTriedAgain; }

    // False once recovery has cost more than a run of this size can reasonably need: a line
    // that bad will not get the image across.
    bool withinBudget(qint64 blocks, qint64 pieces) const;

    // What the run ends with when `what` (a piece) still failed, last with `last`. Damage on the
    // line (refused, garbled or missing replies) becomes one "too noisy" error with the
    // figures; anything else (a flash that will not take the data) is reported as it is.
    FlasherError giveUp(const QString& what, const FlasherError& last) const;

    // "12 block(s) sent again, 2 piece(s) written again", or empty when nothing was.
    QString summary() const;

private:
    int m_baud;
    int m_blocksSentAgain = 0;
    int m_piecesTriedAgain = 0;
};

}  // namespace esptool
