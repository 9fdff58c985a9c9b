#include "flasher/RegionWriter.h"

#include "flasher/FlashParameters.h"
#include "flasher/FlasherObserver.h"
#include "flasher/LineHealth.h"
#include "flasher/PieceSize.h"
#include "flasher/PieceWriter.h"
#include "flasher/SessionKeeper.h"
#include "link/RomConnection.h"
#include "protocol/RomProtocol.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QHash>

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
                           SessionKeeper& keeper)
    : m_rom(rom)
    , m_observer(observer)
    , m_health(health)
    , m_keeper(keeper)
{}

Status RegionWriter::untilDone(const QString& verb, const QString& range,
                               const std::function<Status()>& work)
{
    const Result<bool> done = untilDoneOrSmaller(verb, range, work, false);
    return done ? Status() : Status(done.error());
}

Result<bool> RegionWriter::untilDoneOrSmaller(const QString& verb, const QString& range,
                                              const std::function<Status()>& work, bool mayShrink)
{
    int chipFailures = 0;
    qint64 furthest = -1;
    int triesNoFurther = 0;
    for (int tries = 1;; ++tries) {
        m_health.startTry();
        const Status done = work();
        if (done) {
            m_health.progress();
            if (Status reviewed = m_keeper.reviewLine(); !reviewed)
                return reviewed.error();
            return true;
        }
        const FlasherError& error = done.error();
        const Result<SessionKeeper::Recovery> recovered =
            m_keeper.recover(error, u"%1 %2 again"_s.arg(verb, range));
        if (!recovered)
            return recovered.error();
        // The session was lost and is open again: the piece goes again from its BEGIN, which is
        // the session's own affair, not the line's.
        if (recovered.value() == SessionKeeper::Recovery::resumed) {
            m_health.forgetTry();
            --tries;
            continue;
        }
        QString again;
        if (m_health.isLineDamage(error)) {
            if (m_health.reachedInTry() > furthest) {
                furthest = m_health.reachedInTry();
                triesNoFurther = 0;
            } else {
                ++triesNoFurther;
            }
            if (m_health.stalled() || triesNoFurther >= LineHealth::triesGettingNowhere) {
                const int baud = m_rom.baud();
                const Result<bool> moved = m_keeper.fallBack();
                if (!moved)
                    return moved.error();
                if (!moved.value())
                    return m_health.giveUp(range, error, baud, m_keeper.noiseAdvice());
                triesNoFurther = 0;
            }
            again = mayShrink ? u"again in smaller pieces"_s : u"again (try %1)"_s.arg(tries + 1);
        } else {
            if (++chipFailures >= LineHealth::pieceAttempts)
                return error;
            again = u"again (try %1 of %2)"_s.arg(chipFailures + 1).arg(LineHealth::pieceAttempts);
        }
        m_health.pieceTriedAgain();
        m_health.failedTry();
        QString line = u"%1 %2 %3: %4"_s.arg(verb, range, again, error.message);
        line[0] = line[0].toUpper();
        m_observer.info(line);
        if (Status reviewed = m_keeper.reviewLine(); !reviewed)
            return reviewed.error();
        // What is still on its way belongs to the failed try; a failure here shows in the next.
        m_rom.drain();
        if (mayShrink && m_health.isLineDamage(error))
            return false;
    }
}

Status RegionWriter::write(const FlashRegion& region, bool compress)
{
    QByteArray data = region.data;
    const qsizetype padding =
        (rom::writeAlignment - data.size() % rom::writeAlignment) % rom::writeAlignment;
    data.append(padding, static_cast<char>(rom::erasedByte));

    PieceWriter writer(m_rom, m_health, compress);
    // Pieces of the largest size are prepared up front, for the figures; smaller ones are cut
    // and prepared when the line calls for them.
    QHash<quint32, PieceWriter::Prepared> planned;
    qsizetype wireBytes = 0;
    for (const Piece& piece : splitIntoPieces(region.address, data, PieceSize::largest)) {
        const PieceWriter::Prepared prepared = writer.prepare(piece);
        wireBytes += prepared.wireBytes;
        planned.insert(piece.address, prepared);
    }
    if (compress)
        m_observer.info(u"Compressed %1 bytes to %2."_s.arg(data.size()).arg(wireBytes));
    m_observer.info(u"Erasing and writing %1..."_s.arg(rangeText(region.address, data.size())));

    QElapsedTimer timer;
    timer.start();
    const qint64 total = data.size();
    qint64 highest = 0;
    QList<Piece> written;
    m_observer.writeProgress(WriteProgress{region.address, region.address, 0, total});
    for (qsizetype offset = 0; offset < data.size();) {
        const Piece piece = pieceAt(region.address, data, offset, m_pieceSize.current());
        const auto plan = planned.constFind(piece.address);
        const PieceWriter::Prepared prepared =
            plan != planned.cend() && plan->piece.data.size() == piece.data.size()
                ? *plan
                : writer.prepare(piece);
        const auto progress = [&](qsizetype inPiece, quint32 address) {
            if (offset + inPiece <= highest)
                return;
            highest = offset + inPiece;
            m_observer.writeProgress(WriteProgress{region.address, address, highest, total});
        };
        const Result<bool> done = untilDoneOrSmaller(
            u"writing"_s, piece.range(), [&] { return writer.write(prepared, progress); },
            m_pieceSize.canShrink());
        if (!done)
            return done.error();
        if (!done.value()) {
            m_pieceSize.shrink();
            continue;
        }
        m_pieceSize.succeeded();
        written.append(piece);
        offset += piece.data.size();
    }
    const qint64 elapsed = timer.elapsed();
    const QString compressed = compress ? u" (%1 compressed)"_s.arg(wireBytes) : QString();
    m_observer.info(u"Wrote %1 bytes%2 at %3 in %4 s, effective %5 kbit/s."_s.arg(data.size())
                        .arg(compressed, hex32(region.address), secondsText(elapsed),
                             rateText(data.size(), elapsed)));
    if (const QString recovered = m_health.summary(); !recovered.isEmpty())
        m_observer.info(u"Recovered from line noise: %1."_s.arg(recovered));
    return verify(region.address, data, written, [&](const Piece& piece) {
        return writer.write(writer.prepare(piece), [](qsizetype, quint32) {});
    });
}

Status RegionWriter::eraseAll(quint32 size)
{
    m_observer.info(u"Erasing the whole flash (%1, %2); this can take a while..."_s.arg(
        flash::sizeName(size), rangeText(0, size)));
    QElapsedTimer timer;
    timer.start();
    PieceWriter writer(m_rom, m_health, false);
    const QList<Piece> stretches = splitIntoPieces(0, erased(size), eraseStretch);
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
    PieceWriter pieceWriter(m_rom, m_health, false);
    const QByteArray expected = md5Hex(data);
    QByteArray found;
    const auto hashRegion = [&]() -> Status {
        const Result<QByteArray> digest = pieceWriter.flashMd5(address, size, expected);
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
        if (Status mended = mendPieces(pieces, pieceWriter, redo); !mended)
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

Status RegionWriter::mendPieces(const QList<Piece>& pieces, PieceWriter& pieceWriter,
                                const std::function<Status(const Piece&)>& redo)
{
    for (const Piece& piece : pieces) {
        const QByteArray expected = md5Hex(piece.data);
        QByteArray found;
        if (Status hashed = untilDone(u"verifying"_s, piece.range(),
                                      [&]() -> Status {
                                          const Result<QByteArray> digest = pieceWriter.flashMd5(
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
