#include "LineSpeed.h"

// termios2 carries the rate as a number, custom rates included. Its header clashes with
// <termios.h>, hence this file of its own.
#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace esp32sim {

std::optional<quint32> clientLineBaud(int slaveFd)
{
    termios2 settings{};
    if (slaveFd < 0 || ::ioctl(slaveFd, TCGETS2, &settings) != 0)
        return std::nullopt;
    // What the client transmits is what the chip receives.
    return quint32(settings.c_ospeed);
}

}  // namespace esp32sim
