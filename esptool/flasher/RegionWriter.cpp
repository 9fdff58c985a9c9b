#include "flasher/RegionWriter.h"

#include "flasher/FlashParameters.h"
#include "flasher/FlasherObserver.h"
#include "flasher/LineHealth.h"
#include "flasher/PieceWriter.h"
#include "link/RomConnection.h"
#include "protocol/RomProtocol.h"

#include <QCryptographicHash>
#include <QElapsedTimer>

using namespace Qt::StringLiterals;

namespace esptool {

namespace {

// The whole-flash erase goes in stretches of this size, each with its own (bounded) timeout.
constexpr quint32 eraseStretch = 0x40000;

QString hex32(quint32 value)
{
    return u"0x%1"_s.arg(value, 8, 16, QLatin1Char('0'));
}

QString secondsText(qint64 milliseconds)
{
    return QString::number(static_cast<double>(milliseconds) / 1000.0, 'f', 1);
}

// Effective rate in kbit/s of `bytes` of flash content in `milliseconds`.
QString rateText(qsizetype bytes, qint64 milliseconds)
{
    const double seconds = std::max<double>(static_cast<double>(milliseconds), 1.0) / 1000.0;
    return QString::number(static_cast<double>(bytes) * 8 / seconds / 1000, 'f', 1);
}

QByteArray md5Hex(QByteArrayView data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex();
}

QByteArray erased(qsizetype size)
{
    return QByteArray(size, static_cast<char>(rom::erasedByte));
}

}  // namespace

RegionWriter::RegionWriter(RomConnection& rom, FlasherObserver& observer, LineHealth& health,
                           Reconnect reconnect, int baud)
    : m_rom(rom)
    , m_observer(observer)
    , m_health(health)
    , m_reconnect(std::move(reconnect))
    , m_baud(baud)
{}

Status RegionWriter::untilDone(const QString& verb, const QString& range,
                               const std::function<Status()>& work)
{
    for (int tries = 1;;) {
        const Status done = work();
        if (done)
            return {};
        const FlasherError& error = done.error();
        if (error.kind == ErrorKind::linkLost) {
            if (Status back = m_reconnect(error, u"%1 %2 again"_s.arg(verb, range)); !back)
                return back;
            continue;
        }
        if (tries >= LineHealth::pieceAttempts || !m_health.withinBudget(m_runBlocks, m_runPieces))
            return m_health.giveUp(range, error);
        ++tries;
        m_health.pieceTriedAgain();
        QString line = u"%1 %2 again (try %3 of %4): %5"_s.arg(verb, range)
                           .arg(tries)
                           .arg(LineHealth::pieceAttempts)
                           .arg(error.message);
        line[0] = line[0].toUpper();
        m_observer.info(line);
        // What is still on its way belongs to the failed try; a failure here shows in the next.
        m_rom.drain();
    }
}

Status RegionWriter::write(const FlashRegion& region, bool compress)
{
    QByteArray data = region.data;
    const qsizetype padding =
        (rom::writeAlignment - data.size() % rom::writeAlignment) % rom::writeAlignment;
    data.append(padding, static_cast<char>(rom::erasedByte));

    PieceWriter writer(m_rom, m_health, compress, m_baud);
    const QList<Piece> pieces = splitIntoPieces(region.address, data);
    QList<PieceWriter::Prepared> prepared;
    qsizetype wireBytes = 0;
    for (const Piece& piece : pieces) {
        prepared.append(writer.prepare(piece));
        wireBytes += prepared.last().wireBytes;
        m_runBlocks += prepared.last().blocks.size();
    }
    m_runPieces += pieces.size();
    if (compress)
        m_observer.info(u"Compressed %1 bytes to %2."_s.arg(data.size()).arg(wireBytes));
    m_observer.info(u"Erasing and writing %1..."_s.arg(rangeText(region.address, data.size())));

    QElapsedTimer timer;
    timer.start();
    const qint64 total = data.size();
    qint64 before = 0;
    qint64 highest = 0;
    m_observer.writeProgress(WriteProgress{region.address, region.address, 0, total});
    for (const PieceWriter::Prepared& piece : prepared) {
        const auto progress = [&](qsizetype inPiece, quint32 address) {
            if (before + inPiece <= highest)
                return;
            highest = before + inPiece;
            m_observer.writeProgress(WriteProgress{region.address, address, highest, total});
        };
        if (Status done = untilDone(u"writing"_s, piece.piece.range(),
                                    [&] { return writer.write(piece, progress); });
            !done) {
            return done;
        }
        before += piece.piece.data.size();
    }
    const qint64 elapsed = timer.elapsed();
    const QString compressed = compress ? u" (%1 compressed)"_s.arg(wireBytes) : QString();
    m_observer.info(u"Wrote %1 bytes%2 at %3 in %4 s, effective %5 kbit/s."_s.arg(data.size())
                        .arg(compressed, hex32(region.address), secondsText(elapsed),
                             rateText(data.size(), elapsed)));
    if (const QString recovered = m_health.summary(); !recovered.isEmpty())
        m_observer.info(u"Recovered from line noise: %1."_s.arg(recovered));
    return verify(region.address, data, pieces, [&](const Piece& piece) {
        return writer.write(writer.prepare(piece), [](qsizetype, quint32) {});
    });
}

Status RegionWriter::eraseAll(quint32 size)
{
    m_observer.info(u"Erasing the whole flash (%1, %2); this can take a while..."_s.arg(
        flash::sizeName(size), rangeText(0, size)));
    QElapsedTimer timer;
    timer.start();
    PieceWriter writer(m_rom, m_health, false, m_baud);
    QList<Piece> stretches;
    for (quint32 address = 0; address < size; address += eraseStretch)
        stretches.append(Piece{address, erased(std::min(eraseStretch, size - address))});
    m_runPieces += stretches.size();
    const auto eraseStretchAt = [&](const Piece& stretch) {
        return writer.erase(stretch.address, static_cast<quint32>(stretch.data.size()));
    };
    for (const Piece& stretch : stretches) {
        if (Status done =
                untilDone(u"erasing"_s, stretch.range(), [&] { return eraseStretchAt(stretch); });
            !done) {
            return done;
        }
    }
    m_observer.info(
        u"Erased %1 in %2 s."_s.arg(flash::sizeName(size), secondsText(timer.elapsed())));
    return verify(0, erased(size), stretches, eraseStretchAt);
}

Status RegionWriter::verify(quint32 address, const QByteArray& data, const QList<Piece>& pieces,
                            const std::function<Status(const Piece&)>& redo)
{
    const auto size = static_cast<quint32>(data.size());
    const QString range = rangeText(address, size);
    m_observer.info(u"Verifying %1..."_s.arg(range));
    PieceWriter hasher(m_rom, m_health, false, m_baud);
    const QByteArray expected = md5Hex(data);
    QByteArray found;
    const auto hashRegion = [&]() -> Status {
        const Result<QByteArray> digest = hasher.flashMd5(address, size, expected);
        if (!digest)
            return digest.error();
        found = digest.value();
        return {};
    };
    if (Status hashed = untilDone(u"verifying"_s, range, hashRegion); !hashed)
        return hashed;
    if (found != expected) {
        // Every piece was checked as it was written, so a difference now is damage done since
        // (a BEGIN that reached the chip with a damaged address erases elsewhere): mend it.
        if (Status mended = mendPieces(pieces, hasher, redo); !mended)
            return mended;
        if (Status hashed = untilDone(u"verifying"_s, range, hashRegion); !hashed)
            return hashed;
    }
    if (found != expected)
        return md5Mismatch(address, size, found, expected);
    m_observer.info(
        u"Verified: the flash at %1 matches (MD5 %2)."_s.arg(range, QString::fromLatin1(expected)));
    return {};
}

Status RegionWriter::mendPieces(const QList<Piece>& pieces, PieceWriter& hasher,
                                const std::function<Status(const Piece&)>& redo)
{
    for (const Piece& piece : pieces) {
        const QByteArray expected = md5Hex(piece.data);
        QByteArray found;
        if (Status hashed = untilDone(u"verifying"_s, piece.range(),
                                      [&]() -> Status {
                                          const Result<QByteArray> digest = hasher.flashMd5(
                                              piece.address,
                                              static_cast<quint32>(piece.data.size()), expected);
                                          if (!digest)
                                              return digest.error();
                                          found = digest.value();
                                          return {};
                                      });
            !hashed) {
            return hashed;
        }
        if (found == expected)
            continue;
        m_observer.info(u"%1 changed after it was written; writing it again."_s.arg(piece.range()));
        if (Status mended = untilDone(u"writing"_s, piece.range(), [&] { return redo(piece); });
            !mended) {
            return mended;
        }
    }
    return {};
}

}  // namespace esptool
