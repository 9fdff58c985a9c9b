#include "link/BusyPort.h"

#include "failure/Failure.h"

#include <QFileInfo>
#include <QStringList>

using namespace Qt::StringLiterals;

namespace esptool {

namespace {

void addToHint(FlasherError& error, const QString& sentence)
{
    error.hint = error.hint.isEmpty() ? sentence : error.hint + u' ' + sentence;
}

}  // namespace

QString describePortUsers(const QList<PortUser>& users)
{
    QStringList names;
    for (const PortUser& user : users) {
        const QString process = u"process %1"_s.arg(user.pid);
        names.append(user.program.isEmpty() ? process : user.program + u", "_s + process);
    }
    return names.join(u"; "_s);
}

FlasherError busyPort(const QString& path, const QList<PortUser>& users)
{
    return failure(Failure::portBusy,
                   {path, users.isEmpty() ? QString() : u" (%1)"_s.arg(describePortUsers(users))});
}

QString sharedPortWarning(const QString& path, const QList<PortUser>& users)
{
    if (users.isEmpty())
        return {};
    return u"Serial port %1 is also open in another program (%2), which may take the board's "
           "replies; close it if connecting fails."_s.arg(path, describePortUsers(users));
}

FlasherError withPortUsers(FlasherError error, const QString& path, const PortUsers& finder)
{
    switch (error.kind) {
    case ErrorKind::badArguments:
    case ErrorKind::fileMissing:
    case ErrorKind::fileEmpty:
    case ErrorKind::fileTooLarge:
    case ErrorKind::portNotFound:
    case ErrorKind::permissionDenied:
        return error;
    case ErrorKind::portBusy: {
        const QList<PortUser> users = finder.of(path);
        error.message = busyPort(path, users).message;
        // ModemManager opens every new ttyACM for a while to see whether it is a modem; it runs
        // as root, so the port's holder cannot be seen, but the service can.
        if (users.isEmpty() && QFileInfo(path).fileName().startsWith(u"ttyACM"_s) &&
            finder.isRunning(u"ModemManager"_s)) {
            addToHint(error, u"ModemManager, which probes new ttyACM ports for modems, may hold "
                             "it: wait half a minute, or stop it (sudo systemctl stop "
                             "ModemManager)."_s);
        }
        return error;
    }
    default:
        break;
    }
    if (const QList<PortUser> users = finder.of(path); !users.isEmpty()) {
        addToHint(error,
                  u"Another program has the port open (%1) and may have taken the "
                  "board's replies: close it and try again."_s.arg(describePortUsers(users)));
    }
    return error;
}

}  // namespace esptool
