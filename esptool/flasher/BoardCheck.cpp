#include "flasher/BoardCheck.h"

#include "link/RomConnection.h"
#include "link/Trace.h"
#include "protocol/RomProtocol.h"

#include <QCryptographicHash>
#include <QElapsedTimer>

using namespace Qt::StringLiterals;

namespace esptool {

namespace {

constexpr quint32 sector = rom::flashSectorSize;

}  // namespace

Piece subPiece(const Piece& piece, quint32 address, qsizetype size)
{
    return Piece{address, piece.data.mid(address - piece.address, size)};
}

BoardCheck::BoardCheck(RomConnection& rom, SkipPolicy& policy)
    : m_rom(rom)
    , m_policy(policy)
{}

bool BoardCheck::holds(const Piece& stretch)
{
    const auto size = static_cast<quint32>(stretch.data.size());
    const QByteArray expected =
        QCryptographicHash::hash(stretch.data, QCryptographicHash::Md5).toHex();
    QElapsedTimer timer;
    timer.start();
    const Result<RomReply> reply = m_rom.command(command::spiFlashMd5(stretch.address, size));
    const bool matched = reply && reply.value().payload.toLower() == expected;
    qCDebug(protocolTrace).noquote()
        << u"board holds %1: %2"_s.arg(stretch.range(), matched ? u"yes"_s : u"no"_s);
    m_policy.checked(size, timer.elapsed(), matched);
    return matched;
}

QList<Piece> BoardCheck::differing(const Piece& piece)
{
    QList<Piece> runs;
    const auto sectors = static_cast<int>((piece.data.size() + sector - 1) / sector);
    if (m_policy.search(sectors, sector) == SkipPolicy::Search::byHalves)
        narrowByHalves(piece, runs);
    else
        narrowBySector(piece, runs);
    return joinPieces(runs);
}

void BoardCheck::narrowBySector(const Piece& stretch, QList<Piece>& runs)
{
    for (qsizetype offset = 0; offset < stretch.data.size(); offset += sector) {
        const Piece one = subPiece(stretch, stretch.address + static_cast<quint32>(offset), sector);
        if (!holds(one))
            runs.append(one);
    }
}

void BoardCheck::narrowByHalves(const Piece& stretch, QList<Piece>& runs)
{
    const qsizetype sectors = (stretch.data.size() + sector - 1) / sector;
    if (sectors <= 1) {
        runs.append(stretch);
        return;
    }
    const qsizetype split = sectors / 2 * sector;
    const Piece first = subPiece(stretch, stretch.address, split);
    const Piece second = subPiece(stretch, stretch.address + static_cast<quint32>(split),
                                  stretch.data.size() - split);
    if (holds(first)) {
        narrowByHalves(second, runs);
    } else if (holds(second)) {
        narrowByHalves(first, runs);
    } else {
        // Both halves differ: the board holds little of it, and more asking costs more than it
        // saves.
        runs.append(stretch);
    }
}

}  // namespace esptool
