#include "esp32sim/host/LineSpeed.h"

// termios2 carries the rate as a number, custom rates included. Its header clashes with
// <termios.h>, hence this file of its own.
#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace esp32sim {

std::optional<quint32> clientLineBaud(int clientFd)
{
    termios2 settings{};
    if (clientFd < 0 || ::ioctl(clientFd, TCGETS2, &settings) != 0)
        return std::nullopt;
    // What the client transmits is what the chip receives.
    return quint32(settings.c_ospeed);
}

}  // namespace esp32sim
