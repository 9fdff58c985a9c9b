#include "link/RomConnection.h"

#include "failure/Failure.h"
#include "link/Agreement.h"
#include "link/SerialLink.h"
#include "link/Trace.h"
#include "protocol/RomErrorCode.h"

#include <QElapsedTimer>

#include <optional>

using namespace Qt::StringLiterals;

namespace esptool {

namespace {

// How often a command that is safe to repeat is tried.
constexpr int repeatableAttempts = 4;
// Draining ends once nothing has arrived for this long, or after the limit in any case.
constexpr std::chrono::milliseconds drainQuiet{50};
constexpr std::chrono::milliseconds drainLimit{500};
// A reply arrives in one piece: once an unreadable frame, or the start of one, has been
// followed by this much silence, nothing better is coming for this command.
constexpr std::chrono::milliseconds garbledQuiet{100};
constexpr qsizetype heardLimit = 4096;
// A banner line is well under this; the watch keeps no more of the stream than it needs.
constexpr qsizetype recentTextLimit = 512;
// Whatever arrives while both ends retune is noise.
constexpr std::chrono::milliseconds afterRetune = rom::timeout::afterBaudChange;

QString secondsText(std::chrono::milliseconds duration)
{
    return QString::number(static_cast<double>(duration.count()) / 1000.0, 'f', 1);
}

QString codeText(quint8 code)
{
    return u"%1 (error 0x%2)"_s.arg(romErrorText(code),
                                    QString::number(code, 16).rightJustified(2, u'0'));
}

}  // namespace

RomConnection::RomConnection(SerialLink& link, int baud)
    : m_link(&link)
    , m_baud(baud)
{}

void RomConnection::setLink(SerialLink& link, int baud)
{
    m_link = &link;
    m_baud = baud;
    resetReceiver();
}

Status RomConnection::retune(int baud)
{
    if (Status set = m_link->setBaudRate(baud); !set)
        return set;
    qCDebug(linkTrace).noquote() << u"rate %1 -> %2 baud"_s.arg(m_baud).arg(baud);
    m_baud = baud;
    m_link->pause(afterRetune);
    m_link->discardInput();
    resetReceiver();
    return {};
}

void RomConnection::watchForRestarts(bool watching)
{
    m_watchingForRestarts = watching;
    m_recentText.clear();
    m_restartBanner.reset();
}

Result<RomReply> RomConnection::command(const RomRequest& request, const QString& action)
{
    return command(request, request.timeout, action);
}

Result<RomReply> RomConnection::command(const RomRequest& request,
                                        std::chrono::milliseconds timeout, const QString& action)
{
    QElapsedTimer roundTrip;
    roundTrip.start();
    qCDebug(protocolTrace).noquote() << u"-> %1, %2 bytes, wait %3 ms"_s.arg(
        opcodeName(request.opcode), QString::number(request.packet.size()),
        QString::number(timeout.count()));
    if (Status sent = m_link->write(slip::encode(request.packet)); !sent)
        return sent.error();
    Result<RomReply> reply = awaitReply(request.opcode, timeout, WaitMode::strict);
    if (reply) {
        qCDebug(protocolTrace).noquote() << u"<- %1, status %2 error 0x%3, value 0x%4, %5 ms"_s.arg(
            opcodeName(static_cast<rom::Opcode>(reply.value().opcode)),
            QString::number(reply.value().status), QString::number(reply.value().error, 16),
            QString::number(reply.value().value, 16), QString::number(roundTrip.elapsed()));
    } else {
        qCDebug(protocolTrace).noquote() << u"<- nothing usable: "_s + reply.error().message;
    }
    if (reply && request.opcode == rom::Opcode::readReg) {
        const std::chrono::milliseconds took(roundTrip.elapsed());
        if (m_fastestRoundTrip.count() < 0 || took < m_fastestRoundTrip)
            m_fastestRoundTrip = took;
    }
    if (!reply || reply.value().succeeded())
        return reply;
    const RomReply& failed = reply.value();
    const QString what = action.isEmpty() ? u"carry out "_s + opcodeName(request.opcode) : action;
    if (failed.opcode != static_cast<quint8>(request.opcode)) {
        return failure(Failure::damagedRequest,
                       {what, QString::number(failed.opcode, 16).rightJustified(2, u'0'),
                        codeText(failed.error), romErrorHint(failed.error)},
                       failed.error);
    }
    return failure(Failure::romFailed, {what, codeText(failed.error), romErrorHint(failed.error)},
                   failed.error);
}

Result<RomReply> RomConnection::repeatable(const RomRequest& request, const QString& action)
{
    Result<RomReply> reply = command(request, action);
    for (int attempt = 1; attempt < repeatableAttempts; ++attempt) {
        // Neither a port that went away nor a chip that restarted answers a repeat.
        if (reply || reply.error().kind == ErrorKind::linkLost ||
            reply.error().kind == ErrorKind::chipRestarted) {
            return reply;
        }
        qCDebug(protocolTrace).noquote() << u"again: %1 (try %2)"_s.arg(
            opcodeName(request.opcode), QString::number(attempt + 1));
        if (Status drained = drain(); !drained)
            return drained.error();
        reply = command(request, action);
    }
    return reply;
}

Result<quint32> RomConnection::readReg(quint32 address)
{
    Result<RomReply> reply = repeatable(command::readReg(address));
    if (!reply)
        return reply.error();
    return reply.value().value;
}

Result<quint32> RomConnection::readRegConfirmed(quint32 address)
{
    const auto read = [&]() -> Result<std::optional<quint32>> {
        Result<quint32> value = readReg(address);
        if (!value)
            return value.error();
        return std::optional(value.value());
    };
    const Result<Agreement<quint32>> reads =
        askUntilTwoAgree<quint32>(2 * repeatableAttempts, read, [](quint32) { return false; });
    if (!reads)
        return reads.error();
    if (const std::optional<quint32>& agreed = reads.value().agreed)
        return *agreed;
    return failure(Failure::unsteadyRegister,
                   {QString::number(address, 16).rightJustified(8, u'0')});
}

Status RomConnection::writeReg(quint32 address, quint32 value)
{
    Result<RomReply> reply = repeatable(command::writeReg(address, value));
    if (!reply)
        return reply.error();
    return {};
}

Result<bool> RomConnection::trySync()
{
    // Earlier bytes are a boot message or leftovers of another program: evidence, not replies.
    for (;;) {
        Result<QByteArray> waiting = receive(QDeadlineTimer(0));
        if (!waiting)
            return waiting.error();
        if (waiting.value().isEmpty())
            break;
    }
    resetReceiver();
    qCDebug(protocolTrace).noquote() << u"-> SYNC"_s;
    if (Status sent = m_link->write(slip::encode(command::sync().packet)); !sent)
        return sent.error();
    Result<RomReply> first =
        awaitReply(rom::Opcode::sync, rom::timeout::syncFirstReply, WaitMode::tolerant);
    if (!first)
        return first.error().kind == ErrorKind::linkLost ? Result<bool>(first.error()) : false;
    // The ROM answers one SYNC several times; collect the echoes now rather than skipping them
    // one by one in front of later replies.
    for (quint32 echo = 1; echo < rom::syncReplyCount; ++echo) {
        Result<RomReply> more =
            awaitReply(rom::Opcode::sync, rom::timeout::syncFollowingReplies, WaitMode::tolerant);
        if (!more) {
            if (more.error().kind == ErrorKind::linkLost)
                return more.error();
            break;
        }
    }
    return true;
}

Status RomConnection::drain()
{
    QElapsedTimer elapsed;
    elapsed.start();
    qsizetype dropped = m_received.size();
    for (;;) {
        Result<QByteArray> late = receive(QDeadlineTimer(drainQuiet));
        if (!late)
            return late.error();
        dropped += late.value().size();
        if (late.value().isEmpty() || elapsed.elapsed() > drainLimit.count())
            break;
    }
    qCDebug(linkTrace).noquote() << u"drained %1 bytes in %2 ms"_s.arg(dropped).arg(
        elapsed.elapsed());
    resetReceiver();
    return {};
}

void RomConnection::resetReceiver()
{
    m_received.clear();
    m_frames.clear();
}

void RomConnection::startListening()
{
    m_heard.clear();
    m_bytesHeard = 0;
}

Result<QByteArray> RomConnection::receive(QDeadlineTimer deadline)
{
    Result<QByteArray> chunk = m_link->read(deadline);
    if (!chunk)
        return chunk;
    const QByteArray& bytes = chunk.value();
    m_bytesHeard += bytes.size();
    m_heard.append(
        bytes.first(std::min(bytes.size(), std::max<qsizetype>(0, heardLimit - m_heard.size()))));
    if (m_watchingForRestarts && !bytes.isEmpty()) {
        m_recentText.append(bytes);
        if (m_recentText.size() > recentTextLimit)
            m_recentText.remove(0, m_recentText.size() - recentTextLimit);
        if (m_recentText.contains("rst:0x")) {
            if (std::optional<BootBanner> banner = lastBootBanner(m_recentText)) {
                qCDebug(protocolTrace).noquote() << u"boot banner: "_s + banner->bootText;
                m_restartBanner = std::move(banner);
                m_recentText.clear();
            }
        }
    }
    return chunk;
}

void RomConnection::takeFrames()
{
    slip::DecodeResult decoded = slip::decode(m_received);
    m_received.remove(0, decoded.consumed);
    m_frames.append(std::move(decoded.frames));
}

Result<RomReply> RomConnection::awaitReply(rom::Opcode opcode, std::chrono::milliseconds timeout,
                                           WaitMode mode)
{
    const QDeadlineTimer deadline(timeout);
    const auto wanted = static_cast<quint8>(opcode);
    const bool strict = mode == WaitMode::strict;
    const FlasherError garbled = failure(Failure::garbledReply, {opcodeName(opcode)});
    int garbledFrames = 0;
    // A failure under another opcode is either a late answer to an earlier request (then this
    // command's own reply follows at once) or the chip refusing a damaged copy of this one.
    std::optional<RomReply> refusal;
    for (;;) {
        // Whatever frames came with it belong to the session the chip has just lost.
        if (m_restartBanner)
            return restartError(opcode, *m_restartBanner);
        takeFrames();
        while (!m_frames.isEmpty()) {
            const slip::Frame frame = m_frames.takeFirst();
            const ReplyParse parsed = parseReply(frame.bytes);
            const bool wellFormed =
                parsed.outcome == ReplyParse::Outcome::reply && !frame.badEscape;
            const bool forThisCommand = parsed.outcome != ReplyParse::Outcome::notChipReply &&
                                        parsed.reply.opcode == wanted;
            if (!wellFormed && strict && forThisCommand)
                return garbled;
            if (!wellFormed)
                ++garbledFrames;
            else if (forThisCommand)
                return parsed.reply;
            else if (strict && !parsed.reply.succeeded())
                refusal = parsed.reply;
        }
        if (deadline.hasExpired())
            return timeoutError(opcode, timeout, garbledFrames);
        // Once the answer has come in damaged or refused, the rest of the timeout would be
        // waited in vain: a reply arrives in one piece.
        const bool settled = strict && (garbledFrames > 0 || refusal || !m_received.isEmpty());
        QDeadlineTimer wait = deadline;
        if (settled && QDeadlineTimer(garbledQuiet).deadline() < deadline.deadline())
            wait = QDeadlineTimer(garbledQuiet);
        Result<QByteArray> chunk = receive(wait);
        if (!chunk)
            return chunk.error();
        if (chunk.value().isEmpty() && settled) {
            if (refusal)
                return *refusal;
            return garbled;
        }
        m_received.append(chunk.value());
    }
}

FlasherError RomConnection::restartError(rom::Opcode opcode, const BootBanner& banner) const
{
    return failure(Failure::restartedMidCommand,
                   {opcodeName(opcode),
                    u"rst:0x%1 (%2),%3"_s.arg(QString::number(banner.resetCause, 16),
                                              resetCauseName(banner.resetCause), banner.bootText)});
}

FlasherError RomConnection::timeoutError(rom::Opcode opcode, std::chrono::milliseconds timeout,
                                         int garbledFrames) const
{
    if (garbledFrames > 0) {
        return failure(Failure::garbledFrames,
                       {opcodeName(opcode), QString::number(garbledFrames), secondsText(timeout)});
    }
    return failure(Failure::timeout, {opcodeName(opcode), secondsText(timeout)});
}

}  // namespace esptool
