#pragma once

#include "flasher/Options.h"
#include "flasher/PieceSize.h"
#include "flasher/Result.h"

#include <functional>

namespace esptool {

class FlasherObserver;
class LineHealth;
class PieceWriter;
class RomConnection;
class SessionKeeper;
struct Piece;

// Writes regions (and erases the flash) piece by piece through the ROM's own commands, tries a
// failed piece again, and verifies the whole region by its MD5 at the end. Whatever concerns the
// session (a link that went away, a chip that restarted, the line's rate) it leaves to the
// keeper.
class RegionWriter
{
public:
    RegionWriter(RomConnection& rom, FlasherObserver& observer, LineHealth& health,
                 SessionKeeper& keeper);

    // Writes the region (padded to whole words) and checks it with the chip's MD5 of the flash.
    Status write(const FlashRegion& region, bool compress);
    // Erases [0, size) and checks that it reads back as 0xFF.
    Status eraseAll(quint32 size);

private:
    // Runs `work` on `range` until it succeeds: a session that was lost is opened again, damage
    // on the line is tried again while the run gets somewhere, the chip's own failures a few
    // times.
    Status untilDone(const QString& verb, const QString& range,
                     const std::function<Status()>& work);
    // The same; but where `mayShrink`, damage on the line ends it with false, so that the piece
    // goes again cut smaller.
    Result<bool> untilDoneOrSmaller(const QString& verb, const QString& range,
                                    const std::function<Status()>& work, bool mayShrink);
    // Compares the chip's MD5 of the region with the data's; pieces found wrong are done again
    // (`redo`) once before the region is called bad.
    Status verify(quint32 address, const QByteArray& data, const QList<Piece>& pieces,
                  const std::function<Status(const Piece&)>& redo);

    Status mendPieces(const QList<Piece>& pieces, PieceWriter& pieceWriter,
                      const std::function<Status(const Piece&)>& redo);

    RomConnection& m_rom;
    FlasherObserver& m_observer;
    LineHealth& m_health;
    SessionKeeper& m_keeper;
    PieceSize m_pieceSize;  // across the regions of a run: the line is the same
};

}  // namespace esptool
