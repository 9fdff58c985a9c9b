#pragma once

#include "failure/FlasherError.h"
#include "link/PortUsers.h"

#include <QList>
#include <QString>

namespace esptool {

// What is said about the other programs that use the port, in one place: the refusal of a port
// that another program holds, the warning when others merely have it open, and the same names
// again in any error after that.

// "Serial port /dev/ttyUSB0 is in use by another program (screen, process 4242)."; without the
// parenthesis when nobody could be seen.
FlasherError busyPort(const QString& path, const QList<PortUser>& users);

// Said before connecting when other programs have the port open, as a serial monitor without a
// lock does: the board's replies go to whichever reads first. Empty when there are none.
QString sharedPortWarning(const QString& path, const QList<PortUser>& users);

// An error with the other users of the port named, where the system shows them: a busy port's
// message names its holders (or, unseen, ModemManager when it runs and may be probing a new
// ttyACM); an error after the port was open tells who else has it open. Errors that come before
// the port was in use are given back as they are.
FlasherError withPortUsers(FlasherError error, const QString& path, const PortUsers& finder);

}  // namespace esptool
