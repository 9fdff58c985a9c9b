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
    return kind == ErrorKind::BadArguments ? usageStatus : failureStatus;
}

QString kindName(ErrorKind kind)
{
    switch (kind) {
    case ErrorKind::BadArguments:
        return u"bad-arguments"_s;
    case ErrorKind::FileMissing:
        return u"file-missing"_s;
    case ErrorKind::FileTooLarge:
        return u"file-too-large"_s;
    case ErrorKind::PortNotFound:
        return u"port-not-found"_s;
    case ErrorKind::PortBusy:
        return u"port-busy"_s;
    case ErrorKind::PermissionDenied:
        return u"permission-denied"_s;
    case ErrorKind::PortFailure:
        return u"port-failure"_s;
    case ErrorKind::NoAnswer:
        return u"no-answer"_s;
    case ErrorKind::WrongChip:
        return u"wrong-chip"_s;
    case ErrorKind::LostAfterBaudChange:
        return u"lost-after-baud-change"_s;
    case ErrorKind::LinkLost:
        return u"link-lost"_s;
    case ErrorKind::Timeout:
        return u"timeout"_s;
    case ErrorKind::GarbledReply:
        return u"garbled-reply"_s;
    case ErrorKind::RomError:
        return u"rom-error"_s;
    case ErrorKind::Md5Mismatch:
        return u"md5-mismatch"_s;
    }
    return u"unknown"_s;
}

}  // namespace esptool
