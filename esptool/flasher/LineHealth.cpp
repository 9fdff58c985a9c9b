#include "flasher/LineHealth.h"

#include "protocol/RomErrorCode.h"

using namespace Qt::StringLiterals;

namespace esptool {

namespace {

// Allowance for short runs, where a few bad moments are a large share of the work.
constexpr qint64 spareBlocks = 32;
constexpr qint64 sparePieces = 8;

bool lineDamage(const FlasherError& error)
{
    switch (error.kind) {
    case ErrorKind::timeout:
    case ErrorKind::garbledReply:
        return true;
    case ErrorKind::romError:
        return error.romCode && romRefusedUnapplied(*error.romCode);
    default:
        return false;
    }
}

}  // namespace

LineHealth::LineHealth(int baud)
    : m_baud(baud)
{}

bool LineHealth::withinBudget(qint64 blocks, qint64 pieces) const
{
    return m_blocksSentAgain <= spareBlocks + blocks / 2 &&
           m_piecesTriedAgain <= sparePieces + pieces;
}

FlasherError LineHealth::giveUp(const QString& what, const FlasherError& last) const
{
    if (!lineDamage(last))
        return last;
    return FlasherError{ErrorKind::noisyLine,
                        u"The line to the chip is too noisy at %1 baud: %2 block(s) had to be "
                        "sent again and %3 piece(s) written again, and %4 still failed. Last: "
                        "%5"_s.arg(m_baud)
                            .arg(m_blocksSentAgain)
                            .arg(m_piecesTriedAgain)
                            .arg(what, last.message),
                        u"Try a lower baud rate, or another (shorter) USB cable."_s};
}

QString LineHealth::summary() const
{
    if (m_blocksSentAgain == 0 && m_piecesTriedAgain == 0)
        return {};
    return u"%1 block(s) sent again, %2 piece(s) written again"_s.arg(m_blocksSentAgain)
        .arg(m_piecesTriedAgain);
}

}  // namespace esptool
