#pragma once

#include "failure/Result.h"
#include "flasher/BoardCheck.h"
#include "flasher/Options.h"
#include "flasher/PieceSize.h"
#include "flasher/PieceWriter.h"
#include "flasher/SkipPolicy.h"

#include <functional>
#include <optional>
#include <utility>

namespace esptool {

class FlasherObserver;
class LineHealth;
class RomConnection;
class SessionKeeper;

// Writes regions (and erases the flash) piece by piece through the ROM's own commands, tries a
// failed piece again, and verifies what it wrote by its MD5 at the end. Before a piece it may ask
// the chip whether the board already holds it, and then skips it, or writes only the sectors
// that differ. Whatever concerns the session (a link that went away, a chip that restarted, the
// line's rate) it leaves to the keeper.
class RegionWriter
{
public:
    // `skip`: ask before writing what the board may already hold.
    RegionWriter(RomConnection& rom, FlasherObserver& observer, LineHealth& health,
                 SessionKeeper& keeper, bool skip);

    // Writes the region (padded to whole words) and checks it with the chip's MD5 of the flash.
    Status write(const FlashRegion& region, const WriteSettings& settings);
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
    Status verify(const Piece& stretch, const QList<Piece>& pieces,
                  const std::function<Status(const Piece&)>& redo);

    // What of `piece` to write: all of it, nothing (the board holds it) or the runs that differ.
    QList<Piece> plan(const Piece& piece);
    void skip(const Piece& stretch);
    // Says which stretch was skipped, once the stretch has ended: stretches that follow each
    // other in the flash make one line, whatever was written elsewhere meanwhile.
    void reportSkipped();
    Result<bool> writePiece(PieceWriter& writer, const PieceWriter::Prepared& prepared);
    Status finishRegion(const FlashRegion& region, const QByteArray& data,
                        const QList<Piece>& written, qsizetype writtenWire, qint64 elapsed,
                        PieceWriter& writer);
    // Progress only ever rises: skipped and written bytes count as done.
    void advance(qint64 bytes, quint32 address);
    void show(qint64 inPiece, quint32 address);

    Status mendPieces(const QList<Piece>& pieces, PieceWriter& pieceWriter,
                      const std::function<Status(const Piece&)>& redo);

    RomConnection& m_rom;
    FlasherObserver& m_observer;
    LineHealth& m_health;
    SessionKeeper& m_keeper;
    PieceSize m_pieceSize;  // across the regions of a run: the line is the same
    SkipPolicy m_policy;
    BoardCheck m_check;

    struct RegionProgress
    {
        quint32 regionAddress = 0;
        qint64 total = 0;
        qint64 done = 0;   // bytes skipped or written
        qint64 shown = 0;  // the highest figure shown
    };
    RegionProgress m_progress;
    std::optional<std::pair<quint32, quint32>> m_skipping;  // [first, end) not yet reported
    qint64 m_skippedBytes = 0;
    // The session was opened again in the middle of the piece: a reason to hash it once written.
    bool m_sessionReopened = false;
};

}  // namespace esptool
