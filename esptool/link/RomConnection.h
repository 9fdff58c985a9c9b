#pragma once

#include "failure/Result.h"
#include "protocol/BootBanner.h"
#include "protocol/RomCommand.h"
#include "protocol/RomReply.h"
#include "protocol/Slip.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QList>
#include <QString>

#include <chrono>
#include <optional>

namespace esptool {

class SerialLink;

// Talks to the ROM loader over a link: the one place that sends a command and waits for its
// reply. ROM replies carry no sequence number, so a reply is matched by its opcode, frames of
// other commands (late SYNC echoes, a late answer to an earlier try) are skipped, and before a
// command is tried again the line is drained of whatever is still on its way.
//
// It also owns the line's rate: whoever changes it goes through retune(), and everyone who needs
// it (timeouts, messages) asks baud().
class RomConnection
{
public:
    // `link` is open at `baud`.
    RomConnection(SerialLink& link, int baud);

    // The port was opened again, at `baud`, after the link went away.
    void setLink(SerialLink& link, int baud);

    int baud() const { return m_baud; }
    // The quickest answer to a register read so far: what a round trip costs on this line,
    // with no work of the chip's in it. Negative before the first.
    std::chrono::milliseconds fastestRoundTrip() const { return m_fastestRoundTrip; }
    // Sets the port to `baud` and forgets what arrived while both ends retuned.
    Status retune(int baud);

    // Sends the request and waits for the reply with its opcode, as long as the request allows
    // (RomRequest::timeout) or `timeout` says where the caller knows better. Fails with
    // romError (and the ROM's code) when the chip answered with a failure status: to this
    // command, or to another opcode when a damaged copy of the request reached it as another
    // command, which it then refused. garbledReply when only unreadable frames came back,
    // timeout when nothing did, linkLost when the port went away. `action` names the command
    // in messages (e.g. "write block 3 of 9"); without one, the command's name is used.
    Result<RomReply> command(const RomRequest& request, const QString& action = {});
    Result<RomReply> command(const RomRequest& request, std::chrono::milliseconds timeout,
                             const QString& action = {});

    // For commands that are safe to repeat (register reads and writes, SPI_ATTACH,
    // SPI_SET_PARAMS, SPI_FLASH_MD5, a BEGIN): any failure but a lost link or a restarted chip
    // drains the line and sends the command again, a few times.
    Result<RomReply> repeatable(const RomRequest& request, const QString& action = {});

    Result<quint32> readReg(quint32 address);
    // Reads until two answers agree, so that a value damaged on the line is never taken.
    Result<quint32> readRegConfirmed(quint32 address);
    Status writeReg(quint32 address, quint32 value);

    // One SYNC: what waits on the line is kept as something the chip printed, then SYNC goes
    // out and the first of the ROM's replies is awaited, and the rest of them collected.
    // Returns false (without an error) when nothing answered; fails only when the link is gone.
    Result<bool> trySync();

    // Reads and drops what is still arriving until the line has been quiet for a moment.
    Status drain();
    // Forgets any partial frame; call after the line rate changed.
    void resetReceiver();

    // What came from the chip since startListening() (the first few KiB, and a count): a boot
    // message tells a board running its firmware from a silent one.
    void startListening();
    const QByteArray& heard() const { return m_heard; }
    qint64 bytesHeard() const { return m_bytesHeard; }

    // While watching, a boot banner read from the port in the middle of a command ends the wait
    // with chipRestarted: the chip reset under the session (its supply, a watchdog) and will
    // never answer. The banner is readable only while the port runs at the ROM's 115200; at other
    // rates a restart shows as garbage, then silence.
    void watchForRestarts(bool watching);
    // The banner that ended the last wait, if one did.
    const std::optional<BootBanner>& restartBanner() const { return m_restartBanner; }

private:
    enum class WaitMode
    {
        strict,    // a garbled reply, or a refusal under another opcode, ends the wait
        tolerant,  // anything but the wanted reply is ignored (while syncing)
    };
    Result<RomReply> awaitReply(rom::Opcode opcode, std::chrono::milliseconds timeout,
                                WaitMode mode);
    FlasherError restartError(rom::Opcode opcode, const BootBanner& banner) const;
    FlasherError timeoutError(rom::Opcode opcode, std::chrono::milliseconds timeout,
                              int garbledFrames) const;
    Result<QByteArray> receive(QDeadlineTimer deadline);
    // Moves complete frames from the received bytes to the queue of frames to look at.
    void takeFrames();

    SerialLink* m_link;
    int m_baud;
    std::chrono::milliseconds m_fastestRoundTrip{-1};
    QByteArray m_received;
    QList<slip::Frame> m_frames;
    QByteArray m_heard;
    qint64 m_bytesHeard = 0;
    bool m_watchingForRestarts = false;
    QByteArray m_recentText;  // the last bytes read, where a banner line may be arriving
    std::optional<BootBanner> m_restartBanner;
};

}  // namespace esptool
