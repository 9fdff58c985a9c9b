#pragma once

#include "failure/Result.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDeadlineTimer>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>

namespace esptool {

// The serial port as the flasher sees it: bytes out, bytes in with a deadline, the rate, and the
// two modem-control lines that reset the chip. The real port and the tests' fake implement it.
class SerialLink
{
public:
    virtual ~SerialLink() = default;

    virtual QString portName() const = 0;

    // Sends all of the bytes, or fails (the link went away, or the port would not take them).
    virtual Status write(QByteArrayView bytes) = 0;
    // Returns whatever has arrived, waiting until something does or the deadline passes.
    // An empty result means the deadline passed. Fails only when the link is gone.
    virtual Result<QByteArray> read(QDeadlineTimer deadline) = 0;
    // Drops everything received but not yet read.
    virtual void discardInput() = 0;
    virtual Status setBaudRate(int baud) = 0;

    // Assert (true) or release a modem-control line. Returns false when the port has no such
    // lines: a pseudo-terminal answers the modem ioctls with "Inappropriate ioctl for device".
    virtual bool setDataTerminalReady(bool asserted) = 0;
    virtual bool setRequestToSend(bool asserted) = 0;
    // Both lines in one call, so that the board never sees one changed without the other.
    virtual bool setModemLines(bool dtrAsserted, bool rtsAsserted) = 0;

    // Lets time pass with the lines as they are (reset pulses, settling after a rate change).
    virtual void pause(std::chrono::milliseconds duration) = 0;
};

// Opens the port at `path` at `baud`: how the flasher gets a link again after one went away.
using LinkOpener =
    std::function<Result<std::unique_ptr<SerialLink>>(const QString& path, int baud)>;

}  // namespace esptool
