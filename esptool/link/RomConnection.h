#pragma once

#include "flasher/Result.h"
#include "protocol/RomCommand.h"
#include "protocol/RomReply.h"
#include "protocol/Slip.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <chrono>

namespace esptool {

class SerialLink;

// Talks to the ROM loader over a link: the one place that sends a command and waits for its
// reply. Frames of other commands (late SYNC echoes, error frames for something else) are
// skipped while waiting.
class RomConnection
{
public:
    explicit RomConnection(SerialLink& link);

    SerialLink& link() { return m_link; }

    // Sends the request and waits up to `timeout` for the reply with its opcode. A reply whose
    // status says failure becomes a RomError naming `action` (e.g. "write block 3 at 0x...");
    // without an action, the command's name is used.
    Result<RomReply> command(const RomRequest& request, std::chrono::milliseconds timeout,
                             const QString& action = {});

    // One SYNC: flushes what is waiting, sends SYNC and waits for the first of the ROM's
    // replies, then gives the rest a moment to arrive. Returns false (without an error) when
    // nothing answered; fails only when the link is gone.
    Result<bool> trySync();

    Result<quint32> readReg(quint32 address);
    Status writeReg(quint32 address, quint32 value);

    // Forgets any partial frame; call after the line rate changed.
    void resetReceiver();

private:
    enum class WaitMode
    {
        strict,    // a garbled reply to the command is an error
        tolerant,  // anything unreadable is ignored (while syncing)
    };
    // Reads frames until one is a well-formed reply with `opcode`, or the deadline passes.
    // Returns no reply (and no error) on a timeout in tolerant mode.
    Result<RomReply> awaitReply(rom::Opcode opcode, std::chrono::milliseconds timeout,
                                WaitMode mode);
    FlasherError timeoutError(rom::Opcode opcode, std::chrono::milliseconds timeout) const;

    // Moves complete frames from the received bytes to the queue of frames to look at.
    void takeFrames();

    SerialLink& m_link;
    QByteArray m_received;
    QList<slip::Frame> m_frames;
    int m_garbledFrames = 0;
    int m_foreignFrames = 0;
};

}  // namespace esptool
