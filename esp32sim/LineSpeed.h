#pragma once

#include <QtGlobal>

#include <optional>

namespace esp32sim {

// The rate a serial client has set on its end of the pty, read from the shared termios of the
// slave (any fd of it). The kernel moves pty bytes at any rate, but a real UART would only
// understand bytes sent at its own rate; comparing the two catches a client that forgets to
// switch its port after CHANGE_BAUDRATE. Empty if it cannot be read.
std::optional<quint32> clientLineBaud(int slaveFd);

}  // namespace esp32sim
