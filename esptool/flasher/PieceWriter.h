#pragma once

#include "failure/Result.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <chrono>
#include <functional>

namespace esptool {

class LineHealth;
class RomConnection;

// A stretch of a region (an ADDRESS FILE pair) written on its own: its own BEGIN (where the ROM
// erases), data blocks and MD5 check, so that recovering from a fault repeats little. Pieces
// end on 64 KiB boundaries, the flash's erase blocks, except where the region ends.
struct Piece
{
    quint32 address = 0;
    QByteArray data;

    QString range() const;  // "0x00010000-0x0001ffff"
};

// `data` at `address` cut into pieces that end on multiples of `size` (a power of two), except
// where the data ends.
QList<Piece> splitIntoPieces(quint32 address, const QByteArray& data, quint32 size);
// The one piece of at most `size` that starts `offset` bytes into `data`, on those same bounds.
Piece pieceAt(quint32 address, const QByteArray& data, qsizetype offset, quint32 size);

// Pieces that touch, joined into the stretches they make up together.
QList<Piece> joinPieces(const QList<Piece>& pieces);

// "0x00010000-0x0001ffff" for `size` bytes at `address`.
QString rangeText(quint32 address, qsizetype size);

// The flash at a range does not hold what was written there.
FlasherError md5Mismatch(quint32 address, qsizetype size, const QByteArray& found,
                         const QByteArray& expected);

// One try at a piece through the ROM's own commands. The caller decides whether to try again.
class PieceWriter
{
public:
    struct Block
    {
        QByteArray payload;
        quint32 inflatedSize = 0;  // flash bytes it becomes
    };
    // A piece cut into the blocks that go over the wire (compressed, when asked to).
    struct Prepared
    {
        Piece piece;
        QList<Block> blocks;
        qsizetype wireBytes = 0;  // payload bytes of all blocks
    };

    // Bytes of the piece now in flash, and the flash address of the data last acknowledged;
    // called after every block that got through.
    using Progress = std::function<void(qsizetype bytesDone, quint32 address)>;

    PieceWriter(RomConnection& rom, LineHealth& health, bool compress);

    bool compresses() const { return m_compress; }
    Prepared prepare(const Piece& piece) const;
    // BEGIN and every block (a block the chip refuses as damaged goes again, for as long as the
    // run gets somewhere); then the piece's MD5, where there is reason to doubt it (`doubted`,
    // or a block of this try that went more than once). A clean piece is left to the check of
    // the whole stretch once written, so that a clean write hashes the flash once.
    Status write(const Prepared& prepared, const Progress& progress, bool doubted);
    // BEGIN alone erases; the MD5 of the range must then be that of erased flash.
    Status erase(quint32 address, quint32 size);

    // The chip's MD5 of [address, address + size): `expectedMd5` when an answer matched it,
    // else a digest two answers agreed on, so that a digest damaged on its way back is never
    // taken for bad data in the flash.
    Result<QByteArray> flashMd5(quint32 address, quint32 size, const QByteArray& expectedMd5);

private:
    Status sendBlock(const QList<Block>& blocks, qsizetype index, quint32 flashAddress);
    std::chrono::milliseconds blockTimeout(qsizetype wireBytes, quint32 inflatedSize) const;

    RomConnection& m_rom;
    LineHealth& m_health;
    bool m_compress;
    // Blocks wait for their reply no longer than the line has shown they need, so that a
    // request lost on the line costs little; timeouts in a row make the wait longer.
    std::chrono::milliseconds m_blockWait;
    std::chrono::milliseconds m_slowestReply{0};
};

}  // namespace esptool
