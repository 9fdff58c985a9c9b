#include "flasher/FlasherError.h"

using namespace Qt::StringLiterals;

namespace esptool {

QString FlasherError::line() const
{
    QString text = u"Error: "_s + message;
    if (!hint.isEmpty())
        text += u' ' + hint;
    return text;
}

int exitStatusFor(ErrorKind kind)
{
    static constexpr int usageStatus = 2;
    static constexpr int failureStatus = 1;
    return kind == ErrorKind::badArguments ? usageStatus : failureStatus;
}

QString kindName(ErrorKind kind)
{
    switch (kind) {
    case ErrorKind::badArguments:
        return u"bad-arguments"_s;
    case ErrorKind::fileMissing:
        return u"file-missing"_s;
    case ErrorKind::fileTooLarge:
        return u"file-too-large"_s;
    case ErrorKind::portNotFound:
        return u"port-not-found"_s;
    case ErrorKind::portBusy:
        return u"port-busy"_s;
    case ErrorKind::permissionDenied:
        return u"permission-denied"_s;
    case ErrorKind::portFailure:
        return u"port-failure"_s;
    case ErrorKind::noAnswer:
        return u"no-answer"_s;
    case ErrorKind::wrongChip:
        return u"wrong-chip"_s;
    case ErrorKind::lostAfterBaudChange:
        return u"lost-after-baud-change"_s;
    case ErrorKind::linkLost:
        return u"link-lost"_s;
    case ErrorKind::timeout:
        return u"timeout"_s;
    case ErrorKind::garbledReply:
        return u"garbled-reply"_s;
    case ErrorKind::romError:
        return u"rom-error"_s;
    case ErrorKind::md5Mismatch:
        return u"md5-mismatch"_s;
    }
    return u"unknown"_s;
}

}  // namespace esptool
