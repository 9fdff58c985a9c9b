#include "flasher/PieceWriter.h"

#include "failure/Failure.h"
#include "flasher/Deflate.h"
#include "flasher/LineHealth.h"
#include "link/Agreement.h"
#include "link/RomConnection.h"
#include "link/Trace.h"
#include "protocol/RomErrorCode.h"
#include "protocol/RomProtocol.h"

#include <QCryptographicHash>
#include <QElapsedTimer>

using namespace Qt::StringLiterals;

namespace esptool {

namespace {

using std::chrono::milliseconds;

constexpr int md5Asks = 3;
constexpr int md5HexLength = 32;
// A block's reply normally comes within milliseconds of its last byte; the wait starts at the
// low end and follows what the line shows, up to the ROM's standard timeout.
constexpr milliseconds shortestBlockWait{150};
constexpr int waitPerSlowestReply = 8;
constexpr int bitsPerUartByte = 10;  // 8N1
// A block the chip keeps refusing for its length or format, rather than for a payload damaged
// on the way, was most likely refused for the piece's BEGIN, whose words carry no checksum and
// may have arrived damaged (another block count, say): only a new BEGIN mends that. A block that
// takes this many sends ends the try all the same.
constexpr int formatRefusalsPerTry = 3;
constexpr int sendsPerTry = 24;

QString hex32(quint32 value)
{
    return u"0x%1"_s.arg(value, 8, 16, QLatin1Char('0'));
}

QByteArray md5Hex(QByteArrayView data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex();
}

bool isHexDigest(const QByteArray& digest)
{
    if (digest.size() != md5HexLength)
        return false;
    return std::all_of(digest.cbegin(), digest.cend(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

}  // namespace

QString Piece::range() const
{
    return rangeText(address, data.size());
}

Piece pieceAt(quint32 address, const QByteArray& data, qsizetype offset, quint32 size)
{
    const quint32 at = address + static_cast<quint32>(offset);
    const qsizetype length = std::min<qsizetype>(size - at % size, data.size() - offset);
    return Piece{at, data.mid(offset, length)};
}

QList<Piece> splitIntoPieces(quint32 address, const QByteArray& data, quint32 size)
{
    QList<Piece> pieces;
    for (qsizetype offset = 0; offset < data.size(); offset += pieces.last().data.size())
        pieces.append(pieceAt(address, data, offset, size));
    return pieces;
}

QList<Piece> joinPieces(const QList<Piece>& pieces)
{
    QList<Piece> runs;
    for (const Piece& piece : pieces) {
        if (!runs.isEmpty() &&
            runs.last().address + static_cast<quint32>(runs.last().data.size()) == piece.address) {
            runs.last().data.append(piece.data);
        } else {
            runs.append(piece);
        }
    }
    return runs;
}

QString rangeText(quint32 address, qsizetype size)
{
    return u"%1-%2"_s.arg(hex32(address), hex32(address + static_cast<quint32>(size) - 1));
}

FlasherError md5Mismatch(quint32 address, qsizetype size, const QByteArray& found,
                         const QByteArray& expected)
{
    const bool readsErased = found == md5Hex(QByteArray(size, static_cast<char>(rom::erasedByte)));
    const QString what =
        readsErased ? u"it reads back erased"_s : u"MD5 %1"_s.arg(QString::fromLatin1(found));
    return failure(Failure::md5Mismatch,
                   {rangeText(address, size), what, QString::fromLatin1(expected)});
}

PieceWriter::PieceWriter(RomConnection& rom, LineHealth& health, bool compress)
    : m_rom(rom)
    , m_health(health)
    , m_compress(compress)
    , m_blockWait(shortestBlockWait)
{}

PieceWriter::Prepared PieceWriter::prepare(const Piece& piece) const
{
    Prepared prepared{piece, {}, 0};
    QList<Block>& blocks = prepared.blocks;
    if (!m_compress) {
        for (qsizetype offset = 0; offset < piece.data.size(); offset += rom::flashBlockSize) {
            QByteArray payload = piece.data.mid(offset, rom::flashBlockSize);
            // Every block is a full one; the last is filled up with erased bytes.
            payload.append(rom::flashBlockSize - payload.size(),
                           static_cast<char>(rom::erasedByte));
            blocks.append(Block{payload, rom::flashBlockSize});
        }
        prepared.wireBytes = blocks.size() * qsizetype{rom::flashBlockSize};
        return prepared;
    }
    const QByteArray compressed = deflate::compress(piece.data);
    const QList<quint32> inflated = deflate::inflatedSizes(compressed, rom::flashBlockSize);
    for (qsizetype offset = 0; offset < compressed.size(); offset += rom::flashBlockSize) {
        const qsizetype index = offset / rom::flashBlockSize;
        // Without the inflated size (never for our own stream) allow for the whole piece.
        const quint32 expands =
            index < inflated.size() ? inflated[index] : static_cast<quint32>(piece.data.size());
        blocks.append(Block{compressed.mid(offset, rom::flashBlockSize), expands});
    }
    prepared.wireBytes = compressed.size();
    return prepared;
}

milliseconds PieceWriter::blockTimeout(qsizetype wireBytes, quint32 inflatedSize) const
{
    // The ROM writes (and inflates) a block before it answers. The request's own timeout allows
    // the standard three seconds at least; a block waits only as long as the line has shown it
    // needs, so that one lost on the line costs little.
    const auto writing = milliseconds(static_cast<qint64>(
        static_cast<double>(rom::timeout::writePerMb.count()) * inflatedSize / 1e6));
    const auto onTheWire =
        milliseconds(static_cast<qint64>(1000.0 * bitsPerUartByte * static_cast<double>(wireBytes) /
                                         m_rom.baud()) +
                     1);
    return std::max(m_blockWait, writing) + 2 * onTheWire;
}

Status PieceWriter::write(const Prepared& prepared, const Progress& progress, bool doubted)
{
    const Piece& piece = prepared.piece;
    const QList<Block>& blocks = prepared.blocks;
    const auto size = static_cast<quint32>(piece.data.size());
    const auto blockCount = static_cast<quint32>(blocks.size());
    const RomRequest begin =
        m_compress ? command::flashDeflBegin((size + rom::flashBlockSize - 1) /
                                                 rom::flashBlockSize * rom::flashBlockSize,
                                             blockCount, rom::flashBlockSize, piece.address)
                   : command::flashBegin(size, blockCount, rom::flashBlockSize, piece.address);
    const Result<RomReply> begun = m_rom.repeatable(begin, u"erase %1"_s.arg(piece.range()));
    if (!begun)
        return begun.error();

    quint32 written = 0;
    for (qsizetype index = 0; index < blocks.size(); ++index) {
        const quint32 blockAddress = piece.address + written;
        if (Status sent = sendBlock(blocks, index, blockAddress); !sent)
            return sent;
        written = std::min<quint32>(written + blocks[index].inflatedSize, size);
        m_health.reached(written);
        progress(written, blockAddress);
    }
    if (!doubted && !m_health.triedAgainInThisTry())
        return {};
    const QByteArray expected = md5Hex(piece.data);
    const Result<QByteArray> digest = flashMd5(piece.address, size, expected);
    if (!digest)
        return digest.error();
    if (digest.value() != expected)
        return md5Mismatch(piece.address, size, digest.value(), expected);
    return {};
}

Status PieceWriter::sendBlock(const QList<Block>& blocks, qsizetype index, quint32 flashAddress)
{
    const Block& block = blocks[index];
    const auto sequence = static_cast<quint32>(index);
    const RomRequest request =
        m_compress ? command::flashDeflData(sequence, block.payload, block.inflatedSize)
                   : command::flashData(sequence, block.payload);
    const QString action =
        u"write %1block %2 of %3 (flash at %4)"_s.arg(m_compress ? u"compressed "_s : QString())
            .arg(index + 1)
            .arg(blocks.size())
            .arg(hex32(flashAddress));
    bool probed = false;
    int formatRefusals = 0;
    for (int send = 1;; ++send) {
        QElapsedTimer elapsed;
        elapsed.start();
        m_health.blockSent();
        const Result<RomReply> reply =
            m_rom.command(request, blockTimeout(request.packet.size(), block.inflatedSize), action);
        if (reply) {
            m_slowestReply = std::max(m_slowestReply, milliseconds(elapsed.elapsed()));
            m_blockWait = std::clamp(waitPerSlowestReply * m_slowestReply, shortestBlockWait,
                                     milliseconds(rom::timeout::standard));
            m_health.progress();
            return {};
        }
        FlasherError error = reply.error();
        // Timeouts in a row may mean a chip slower than the line has shown so far.
        if (error.kind == ErrorKind::timeout)
            m_blockWait = std::min(2 * m_blockWait, milliseconds(rom::timeout::standard));
        const std::optional<quint8> code =
            error.kind == ErrorKind::romError ? error.romCode : std::nullopt;
        // After an unclear outcome the block went again: a chip that had applied it refuses the
        // repeated sequence number, so it is there.
        if (probed && code == static_cast<quint8>(RomErrorCode::invalidParameter)) {
            m_health.progress();
            return {};
        }
        // A failure the ROM never gives for a data block, on a line that has damaged other
        // replies, is a success whose status bytes flipped as likely as anything: unclear.
        if (code && m_health.hasSeenNoise() && !romCodeExpected(request.opcode, *code)) {
            error = failure(Failure::garbledStatus,
                            {action, QString::number(*code, 16).rightJustified(2, u'0')});
        }
        const bool refused =
            error.kind == ErrorKind::romError && code && romRefusedUnapplied(*code);
        const bool unclear =
            error.kind == ErrorKind::timeout || error.kind == ErrorKind::garbledReply;
        if (refused && code != static_cast<quint8>(RomErrorCode::badChecksum))
            ++formatRefusals;
        // The chip's own verdict, a second unclear outcome, or a block that is getting nowhere:
        // the piece is done again.
        if (!(refused || (unclear && !probed)) || formatRefusals >= formatRefusalsPerTry ||
            send >= sendsPerTry || m_health.stalled()) {
            return error;
        }
        m_health.blockSentAgain();
        qCDebug(protocolTrace).noquote()
            << u"block %1 again: %2"_s.arg(QString::number(index + 1), error.message);
        if (unclear) {
            // Whether the chip applied it is open. Sent again, it is applied now if it was
            // lost, or refused if it was not; a chip that applies repeats anyway spoils the
            // piece, which the piece's MD5 then shows.
            probed = true;
            if (Status drained = m_rom.drain(); !drained)
                return drained;
        }
    }
}

Status PieceWriter::erase(quint32 address, quint32 size)
{
    const Result<RomReply> erased = m_rom.repeatable(
        command::flashBegin(size, (size + rom::flashBlockSize - 1) / rom::flashBlockSize,
                            rom::flashBlockSize, address),
        u"erase %1"_s.arg(rangeText(address, size)));
    if (!erased)
        return erased.error();
    const QByteArray expected = md5Hex(QByteArray(size, static_cast<char>(rom::erasedByte)));
    const Result<QByteArray> digest = flashMd5(address, size, expected);
    if (!digest)
        return digest.error();
    if (digest.value() != expected)
        return md5Mismatch(address, size, digest.value(), expected);
    return {};
}

Result<QByteArray> PieceWriter::flashMd5(quint32 address, quint32 size,
                                         const QByteArray& expectedMd5)
{
    qsizetype unreadable = 0;
    const auto ask = [&]() -> Result<std::optional<QByteArray>> {
        const Result<RomReply> reply =
            m_rom.repeatable(command::spiFlashMd5(address, size),
                             u"hash the flash at %1"_s.arg(rangeText(address, size)));
        if (!reply)
            return reply.error();
        const QByteArray digest = reply.value().payload.toLower();
        if (!isHexDigest(digest)) {
            unreadable = digest.size();
            return std::optional<QByteArray>();
        }
        return std::optional(digest);
    };
    const Result<Agreement<QByteArray>> asked = askUntilTwoAgree<QByteArray>(
        md5Asks, ask, [&](const QByteArray& digest) { return digest == expectedMd5; });
    if (!asked)
        return asked.error();
    const Agreement<QByteArray>& answers = asked.value();
    if (answers.agreed)
        return *answers.agreed;
    if (answers.last)
        return *answers.last;
    return failure(Failure::unreadableDigest, {QString::number(unreadable)});
}

}  // namespace esptool
