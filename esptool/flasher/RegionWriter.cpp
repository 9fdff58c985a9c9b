#include "flasher/RegionWriter.h"

#include "flasher/BoardCheck.h"
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

// "1.2 MiB", "12.0 KiB", "300 bytes".
QString sizeText(qint64 bytes)
{
    constexpr double kib = 1024.0;
    if (bytes >= qint64{1024} * 1024)
        return u"%1 MiB"_s.arg(static_cast<double>(bytes) / kib / kib, 0, 'f', 1);
    if (bytes >= 1024)
        return u"%1 KiB"_s.arg(static_cast<double>(bytes) / kib, 0, 'f', 1);
    return u"%1 bytes"_s.arg(bytes);
}

}  // namespace

RegionWriter::RegionWriter(RomConnection& rom, FlasherObserver& observer, LineHealth& health,
                           SessionKeeper& keeper, bool skip)
    : m_rom(rom)
    , m_observer(observer)
    , m_health(health)
    , m_keeper(keeper)
    , m_policy(skip)
    , m_check(rom, m_policy)
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
            m_sessionReopened = true;
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

Status RegionWriter::write(const FlashRegion& region, const WriteSettings& settings)
{
    QByteArray data = region.data;
    const qsizetype padding =
        (rom::writeAlignment - data.size() % rom::writeAlignment) % rom::writeAlignment;
    data.append(padding, static_cast<char>(rom::erasedByte));

    PieceWriter writer(m_rom, m_health, settings.compress);
    // Pieces of the largest size are prepared up front, for the figures; smaller ones are cut
    // and prepared when the line or the board calls for them.
    QHash<quint32, PieceWriter::Prepared> planned;
    qsizetype wireBytes = 0;
    for (const Piece& piece : splitIntoPieces(region.address, data, PieceSize::largest)) {
        const PieceWriter::Prepared prepared = writer.prepare(piece);
        wireBytes += prepared.wireBytes;
        planned.insert(piece.address, prepared);
    }
    if (settings.compress)
        m_observer.info(u"Compressed %1 bytes to %2."_s.arg(data.size()).arg(wireBytes));
    m_observer.info(u"Erasing and writing %1%2..."_s.arg(
        rangeText(region.address, data.size()),
        m_policy.enabled() ? u", skipping what the board already holds"_s : QString()));
    if (m_rom.fastestRoundTrip().count() >= 0)
        m_policy.roundTrip(m_rom.fastestRoundTrip().count());

    QElapsedTimer timer;
    timer.start();
    m_progress = RegionProgress{region.address, data.size()};
    m_observer.writeProgress(WriteProgress{region.address, region.address, 0, data.size()});
    QList<Piece> written;
    qsizetype writtenWire = 0;
    qsizetype offset = 0;
    QList<Piece> pending;  // stretches of the current piece still to write
    while (offset < data.size() || !pending.isEmpty()) {
        if (pending.isEmpty()) {
            const Piece piece = pieceAt(region.address, data, offset, m_pieceSize.current());
            offset += piece.data.size();
            pending = plan(piece);
            continue;
        }
        const Piece piece = pending.takeFirst();
        if (piece.data.size() > m_pieceSize.current()) {
            pending = splitIntoPieces(piece.address, piece.data, m_pieceSize.current()) + pending;
            continue;
        }
        const auto plan = planned.constFind(piece.address);
        const PieceWriter::Prepared prepared =
            plan != planned.cend() && plan->piece.data.size() == piece.data.size()
                ? *plan
                : writer.prepare(piece);
        const Result<bool> done = writePiece(writer, prepared);
        if (!done)
            return done.error();
        if (!done.value()) {
            m_pieceSize.shrink();
            pending.prepend(piece);
            continue;
        }
        m_pieceSize.succeeded();
        written.append(piece);
        writtenWire += prepared.wireBytes;
    }
    reportSkipped();
    return finishRegion(region, data, written, writtenWire, timer.elapsed(), writer);
}

QList<Piece> RegionWriter::plan(const Piece& piece)
{
    const bool erasedInImage = piece.data == erased(piece.data.size());
    if (!m_policy.shouldCheck(erasedInImage))
        return {piece};
    // Decided on what the checks before this piece found.
    const bool narrow = m_policy.shouldNarrow();
    if (m_check.holds(piece)) {
        skip(piece);
        return {};
    }
    if (piece.data.size() <= rom::flashSectorSize || !narrow)
        return {piece};
    QList<Piece> runs = m_check.differing(piece);
    // What the search found the board holding is skipped, verified by its digest.
    quint32 at = piece.address;
    for (const Piece& run : runs) {
        if (run.address > at)
            skip(subPiece(piece, at, run.address - at));
        at = run.address + static_cast<quint32>(run.data.size());
    }
    const quint32 end = piece.address + static_cast<quint32>(piece.data.size());
    if (end > at)
        skip(subPiece(piece, at, end - at));
    return runs;
}

void RegionWriter::skip(const Piece& stretch)
{
    const auto size = static_cast<quint32>(stretch.data.size());
    m_skippedBytes += size;
    if (m_skipping && m_skipping->second == stretch.address)
        m_skipping->second += size;
    else {
        reportSkipped();
        m_skipping = {stretch.address, stretch.address + size};
    }
    advance(size, stretch.address + size);
}

void RegionWriter::reportSkipped()
{
    if (!m_skipping)
        return;
    m_observer.info(u"Skipped %1: the board already holds it."_s.arg(
        rangeText(m_skipping->first, m_skipping->second - m_skipping->first)));
    m_skipping.reset();
}

void RegionWriter::advance(qint64 bytes, quint32 address)
{
    m_progress.done += bytes;
    show(0, address);
}

void RegionWriter::show(qint64 inPiece, quint32 address)
{
    if (m_progress.done + inPiece <= m_progress.shown)
        return;
    m_progress.shown = m_progress.done + inPiece;
    m_observer.writeProgress(
        WriteProgress{m_progress.regionAddress, address, m_progress.shown, m_progress.total});
}

Result<bool> RegionWriter::writePiece(PieceWriter& writer, const PieceWriter::Prepared& prepared)
{
    const Piece& piece = prepared.piece;
    QElapsedTimer timer;
    timer.start();
    m_sessionReopened = false;
    Result<bool> done = untilDoneOrSmaller(
        u"writing"_s, piece.range(),
        [&] {
            return writer.write(
                prepared, [&](qsizetype inPiece, quint32 address) { show(inPiece, address); },
                m_sessionReopened);
        },
        m_pieceSize.canShrink());
    m_policy.wrote(timer.elapsed());
    if (done && done.value())
        advance(piece.data.size(), piece.address + static_cast<quint32>(piece.data.size()));
    return done;
}

Status RegionWriter::finishRegion(const FlashRegion& region, const QByteArray& data,
                                  const QList<Piece>& written, qsizetype writtenWire,
                                  qint64 elapsed, PieceWriter& writer)
{
    const QString range = rangeText(region.address, data.size());
    if (written.isEmpty()) {
        m_observer.info(u"The board already holds all of %1 (%2): nothing needed writing."_s.arg(
            range, sizeText(data.size())));
        m_observer.info(u"Verified: the flash at %1 matches (MD5 %2; every piece's MD5 matched "
                        "before writing)."_s.arg(range, QString::fromLatin1(md5Hex(data))));
        return {};
    }
    qsizetype writtenBytes = 0;
    for (const Piece& piece : written)
        writtenBytes += piece.data.size();
    const QString compressed =
        writer.compresses() ? u" (%1 compressed)"_s.arg(writtenWire) : QString();
    const QString where =
        m_skippedBytes > 0 ? u"of %1"_s.arg(range) : u"at %1"_s.arg(hex32(region.address));
    m_observer.info(
        u"Wrote %1 bytes%2 %3 in %4 s, effective %5 kbit/s."_s.arg(writtenBytes)
            .arg(compressed, where, secondsText(elapsed), rateText(writtenBytes, elapsed)));
    if (const QString recovered = m_health.summary(); !recovered.isEmpty())
        m_observer.info(u"Recovered from line noise: %1."_s.arg(recovered));
    if (m_skippedBytes > 0) {
        m_observer.info(u"Wrote %1, skipped %2 already on the board."_s.arg(
            sizeText(writtenBytes), sizeText(m_skippedBytes)));
    }
    m_skippedBytes = 0;
    // Each stretch written is checked as a whole; what the board held was verified by the
    // digests that matched, and was not written since.
    for (const Piece& run : joinPieces(written)) {
        QList<Piece> inRun;
        for (const Piece& piece : written) {
            if (piece.address >= run.address &&
                piece.address < run.address + static_cast<quint32>(run.data.size())) {
                inRun.append(piece);
            }
        }
        if (Status verified = verify(run, inRun,
                                     [&](const Piece& piece) {
                                         return writer.write(
                                             writer.prepare(piece), [](qsizetype, quint32) {},
                                             true);
                                     });
            !verified) {
            return verified;
        }
    }
    return {};
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
    return verify(Piece{0, erased(size)}, stretches, eraseStretchAt);
}

Status RegionWriter::verify(const Piece& stretch, const QList<Piece>& pieces,
                            const std::function<Status(const Piece&)>& redo)
{
    const quint32 address = stretch.address;
    const auto size = static_cast<quint32>(stretch.data.size());
    const QString range = stretch.range();
    m_observer.info(u"Verifying %1..."_s.arg(range));
    PieceWriter pieceWriter(m_rom, m_health, false);
    const QByteArray expected = md5Hex(stretch.data);
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
        // A piece written wrong without the line showing it (a damaged block whose checksum
        // still held), or damage done since (a BEGIN that reached the chip with a damaged
        // address erases elsewhere): find the piece and mend it.
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
