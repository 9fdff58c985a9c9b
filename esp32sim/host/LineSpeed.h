#pragma once

#include <QtGlobal>

#include <optional>

namespace esp32sim {

// The rate a serial client has set on its end of the pty, read from the termios of the client
// side, which every fd of it shares. The kernel moves pty bytes at any rate, but a real UART would
// only understand bytes sent at its own rate; comparing the two catches a client that forgets to
// switch its port after CHANGE_BAUDRATE. Empty if it cannot be read.
std::optional<quint32> clientLineBaud(int clientFd);

}  // namespace esp32sim
