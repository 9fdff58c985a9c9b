#include "failure/FlasherError.h"

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

}  // namespace esptool
