#pragma once

#include <QString>

#include <optional>

namespace esptool {

// Every way a run can fail. The set is closed on purpose: the command line maps each kind to
// an exit status, and the flasher's recovery decides by kind what may be tried again.
enum class ErrorKind
{
    badArguments,
    fileMissing,
    fileEmpty,
    fileTooLarge,
    portNotFound,
    portBusy,
    permissionDenied,
    portFailure,
    noAnswer,
    bootedFirmware,  // the board started its own firmware instead of the serial loader
    wrongChip,
    otherBoard,  // after the link came back, another board answered on the port
    lostAfterBaudChange,
    linkLost,
    timeout,
    garbledReply,
    romError,
    noisyLine,  // recovery gave up: too many damaged blocks and replies
    md5Mismatch,
    chipRestarted,     // the chip printed its boot banner in the middle of the session
    stoppedAnswering,  // the chip fell silent and could not be found again
    protectedBoard,    // its eFuses say that what was asked would leave it unable to boot
};

// A failure as a value: what went wrong (one sentence) and, where the user can do something
// about it, what to do.
struct FlasherError
{
    ErrorKind kind = ErrorKind::portFailure;
    QString message;
    QString hint;
    // For romError: the ROM's error code, which tells a refused request from a failed one.
    std::optional<quint8> romCode = std::nullopt;

    // The one line the command line prints for this error.
    QString line() const;
};

// Exit status of the command line for a failure of this kind (never 0).
int exitStatusFor(ErrorKind kind);

}  // namespace esptool
