#pragma once

#include "flasher/PieceWriter.h"
#include "flasher/SkipPolicy.h"

#include <QList>

namespace esptool {

class RomConnection;

// Asks the chip whether its flash already holds a stretch of the image as it will be written,
// by the MD5 the chip computes of the range. One answer decides: a match is believed at once,
// since noise cannot forge one; a mismatch, a garbled answer or none at all mean "write it".
class BoardCheck
{
public:
    BoardCheck(RomConnection& rom, SkipPolicy& policy);

    bool holds(const Piece& stretch);
    // The sector runs of `piece`, which the board does not hold as a whole, that it does not
    // hold, searched the way that costs least on this line (SkipPolicy::search).
    QList<Piece> differing(const Piece& piece);

private:
    void narrowByHalves(const Piece& stretch, QList<Piece>& runs);
    void narrowBySector(const Piece& stretch, QList<Piece>& runs);

    RomConnection& m_rom;
    SkipPolicy& m_policy;
};

// `piece` cut at `address` for `size` bytes.
Piece subPiece(const Piece& piece, quint32 address, qsizetype size);

}  // namespace esptool
