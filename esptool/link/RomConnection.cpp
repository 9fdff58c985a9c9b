#include "link/RomConnection.h"

#include "link/SerialLink.h"
#include "protocol/RomErrorCode.h"

using namespace Qt::StringLiterals;

namespace esptool {

namespace {

QString secondsText(std::chrono::milliseconds duration)
{
    return QString::number(static_cast<double>(duration.count()) / 1000.0, 'f', 1);
}

}  // namespace

RomConnection::RomConnection(SerialLink& link)
    : m_link(link)
{}

Result<RomReply> RomConnection::command(const RomRequest& request,
                                        std::chrono::milliseconds timeout, const QString& action)
{
    if (Status sent = m_link.write(slip::encode(request.packet)); !sent)
        return sent.error();
    Result<RomReply> reply = awaitReply(request.opcode, timeout, WaitMode::strict);
    if (!reply || reply.value().succeeded())
        return reply;
    const RomReply& failed = reply.value();
    const QString what = action.isEmpty() ? u"carry out "_s + opcodeName(request.opcode) : action;
    return FlasherError{ErrorKind::romError,
                        u"The chip failed to %1: %2 (error 0x%3)."_s.arg(
                            what, romErrorText(failed.error),
                            QString::number(failed.error, 16).rightJustified(2, u'0')),
                        romErrorHint(failed.error)};
}

Result<bool> RomConnection::trySync()
{
    m_link.discardInput();
    resetReceiver();
    if (Status sent = m_link.write(slip::encode(command::sync().packet)); !sent)
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

Result<quint32> RomConnection::readReg(quint32 address)
{
    Result<RomReply> reply = command(command::readReg(address), rom::timeout::standard);
    if (!reply)
        return reply.error();
    return reply.value().value;
}

Status RomConnection::writeReg(quint32 address, quint32 value)
{
    Result<RomReply> reply = command(command::writeReg(address, value), rom::timeout::standard);
    if (!reply)
        return reply.error();
    return {};
}

void RomConnection::resetReceiver()
{
    m_received.clear();
    m_frames.clear();
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
    m_garbledFrames = 0;
    m_foreignFrames = 0;
    const auto wanted = static_cast<quint8>(opcode);
    for (;;) {
        takeFrames();
        while (!m_frames.isEmpty()) {
            const slip::Frame frame = m_frames.takeFirst();
            const ReplyParse parsed = parseReply(frame.bytes);
            const bool hasHeader = parsed.outcome != ReplyParse::Outcome::notAReply;
            const bool forThisCommand = hasHeader && parsed.reply.opcode == wanted;
            if (!hasHeader || frame.badEscape || parsed.outcome == ReplyParse::Outcome::malformed) {
                if (mode == WaitMode::strict && forThisCommand) {
                    return FlasherError{
                        ErrorKind::garbledReply,
                        u"The chip's reply to %1 arrived garbled."_s.arg(opcodeName(opcode)),
                        u"Check the cable, or try a lower baud rate."_s};
                }
                ++m_garbledFrames;
                continue;
            }
            if (!forThisCommand) {
                ++m_foreignFrames;
                continue;
            }
            return parsed.reply;
        }
        if (deadline.hasExpired())
            return timeoutError(opcode, timeout);
        Result<QByteArray> chunk = m_link.read(deadline);
        if (!chunk)
            return chunk.error();
        m_received.append(chunk.value());
    }
}

FlasherError RomConnection::timeoutError(rom::Opcode opcode,
                                         std::chrono::milliseconds timeout) const
{
    if (m_garbledFrames > 0) {
        return FlasherError{ErrorKind::garbledReply,
                            u"The chip's reply to %1 could not be read (%2 garbled frame(s) "
                            "in %3 s)."_s.arg(opcodeName(opcode))
                                .arg(m_garbledFrames)
                                .arg(secondsText(timeout)),
                            u"Check the cable, or try a lower baud rate."_s};
    }
    return FlasherError{
        ErrorKind::timeout,
        u"The chip did not answer %1 within %2 s."_s.arg(opcodeName(opcode), secondsText(timeout)),
        u"Check the cable, or try a lower baud rate."_s};
}

}  // namespace esptool
