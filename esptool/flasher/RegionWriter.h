#pragma once

#include "flasher/Options.h"
#include "flasher/Result.h"

#include <functional>

namespace esptool {

class FlasherObserver;
class LineHealth;
class PieceWriter;
class RomConnection;
struct Piece;

// Writes regions (and erases the flash) piece by piece through the ROM's own commands, tries a
// failed piece again, and verifies the whole region by its MD5 at the end.
class RegionWriter
{
public:
    // Called when the link went away in the middle of something; `resuming` says what will
    // be done again once it is back. Fails when it does not come back.
    using Reconnect = std::function<Status(const FlasherError& lost, const QString& resuming)>;

    RegionWriter(RomConnection& rom, FlasherObserver& observer, LineHealth& health,
                 Reconnect reconnect, int baud);

    // Writes the region (padded to whole words) and checks it with the chip's MD5 of the flash.
    Status write(const FlashRegion& region, bool compress);
    // Erases [0, size) and checks that it reads back as 0xFF.
    Status eraseAll(quint32 size);

private:
    // Runs one try of `work` on `range` until it succeeds: a dropped link is reconnected, any
    // other failure tried again until the line's health says to stop.
    Status untilDone(const QString& verb, const QString& range,
                     const std::function<Status()>& work);
    // Compares the chip's MD5 of the region with the data's; pieces found wrong are done again
    // (`redo`) once before the region is called bad.
    Status verify(quint32 address, const QByteArray& data, const QList<Piece>& pieces,
                  const std::function<Status(const Piece&)>& redo);

    Status mendPieces(const QList<Piece>& pieces, PieceWriter& hasher,
                      const std::function<Status(const Piece&)>& redo);

    RomConnection& m_rom;
    FlasherObserver& m_observer;
    LineHealth& m_health;
    Reconnect m_reconnect;
    int m_baud;
    qint64 m_runBlocks = 0;
    qint64 m_runPieces = 0;
};

}  // namespace esptool
