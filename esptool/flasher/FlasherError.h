#pragma once

#include <QString>

namespace esptool {

// Every way a run can fail. The set is closed on purpose: the command line maps each kind to
// an exit status, and tests check that each fault surfaces as the kind meant for it.
enum class ErrorKind
{
    badArguments,
    fileMissing,
    fileTooLarge,
    portNotFound,
    portBusy,
    permissionDenied,
    portFailure,
    noAnswer,
    wrongChip,
    lostAfterBaudChange,
    linkLost,
    timeout,
    garbledReply,
    romError,
    md5Mismatch,
};

// A failure as a value: what went wrong (one sentence) and, where the user can do something
// about it, what to do.
struct FlasherError
{
    ErrorKind kind = ErrorKind::portFailure;
    QString message;
    QString hint;

    // The one line the command line prints for this error.
    QString line() const;
};

// Exit status of the command line for a failure of this kind (never 0).
int exitStatusFor(ErrorKind kind);

// Short stable name of a kind, for logs and test diagnostics.
QString kindName(ErrorKind kind);

}  // namespace esptool
