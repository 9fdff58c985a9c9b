#include "flasher/LineHealth.h"

#include "failure/Failure.h"
#include "protocol/RomErrorCode.h"
#include "protocol/RomProtocol.h"

using namespace Qt::StringLiterals;

namespace esptool {

namespace {

// The whole run may take this long plus a multiple of its data's wire time at 115200: a line
// slow enough to pass that gets the image across no faster than a user could start again.
constexpr std::chrono::minutes runTimeBase{5};
constexpr int runTimeFactor = 3;
constexpr int bitsPerUartByte = 10;  // 8N1

}  // namespace

LineHealth::LineHealth()
{
    m_runClock.start();
}

void LineHealth::startRun(qint64 wireBytes, qint64 flashBytes)
{
    const auto wire =
        std::chrono::milliseconds(wireBytes * bitsPerUartByte * 1000 / rom::initialBaud);
    m_runLimit = runTimeBase + runTimeFactor * wire +
                 rom::scaledTimeout(rom::timeout::erasePerMb, static_cast<quint64>(flashBytes));
    m_runClock.restart();
    m_consecutiveFailures = 0;
}

void LineHealth::progress()
{
    m_consecutiveFailures = 0;
}

bool LineHealth::outOfTime() const
{
    return m_runLimit.count() > 0 && m_runClock.elapsed() > m_runLimit.count();
}

bool LineHealth::stalled() const
{
    return m_consecutiveFailures >= maxConsecutiveFailures || outOfTime();
}

void LineHealth::startTry()
{
    m_reached = 0;
    m_blocksSentAgainBeforeTry = m_blocksSentAgain;
}

void LineHealth::forgetTry()
{
    m_windowResends -= std::min(m_windowResends, m_blocksSentAgain - m_blocksSentAgainBeforeTry);
    m_blocksSentAgain = m_blocksSentAgainBeforeTry;
}

void LineHealth::blockSentAgain()
{
    ++m_blocksSentAgain;
    ++m_windowResends;
    failedTry();
}

void LineHealth::clearWindow()
{
    m_windowSends = 0;
    m_windowResends = 0;
}

bool LineHealth::isLineDamage(const FlasherError& error) const
{
    switch (error.kind) {
    case ErrorKind::timeout:
    case ErrorKind::garbledReply:
        return true;
    case ErrorKind::md5Mismatch:
        return hasSeenNoise();
    case ErrorKind::romError: {
        if (!error.romCode)
            return false;
        const auto code = static_cast<RomErrorCode>(*error.romCode);
        const bool damagedStream = code == RomErrorCode::inflateFailed ||
                                   code == RomErrorCode::inflateChecksum ||
                                   code == RomErrorCode::inflateParameter;
        return romRefusedUnapplied(*error.romCode) || (damagedStream && hasSeenNoise());
    }
    default:
        return false;
    }
}

FlasherError LineHealth::giveUp(const QString& what, const FlasherError& last, int baud,
                                const QString& advice) const
{
    if (!isLineDamage(last))
        return last;
    const QStringList figures{QString::number(m_blocksSentAgain),
                              QString::number(m_piecesTriedAgain), what, last.message, advice};
    if (outOfTime()) {
        const auto minutes = std::chrono::duration_cast<std::chrono::minutes>(m_runLimit).count();
        return failure(Failure::noisyLineTooLong,
                       QStringList{QString::number(baud), QString::number(minutes)} + figures);
    }
    return failure(Failure::noisyLine, QStringList{QString::number(baud)} + figures);
}

QString LineHealth::summary() const
{
    if (m_blocksSentAgain == 0 && m_piecesTriedAgain == 0)
        return {};
    return u"%1 block(s) sent again, %2 piece(s) written again"_s.arg(m_blocksSentAgain)
        .arg(m_piecesTriedAgain);
}

}  // namespace esptool
