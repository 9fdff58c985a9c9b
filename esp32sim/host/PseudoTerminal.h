#pragma once

#include <QString>

namespace esp32sim {

// A raw pseudo-terminal pair. The simulator reads and writes the master; clients open the far
// end, the client side, by its path. The client side stays open here too: on Linux, reading a
// master whose other end nobody holds open fails with EIO, which would end the link before a
// client arrives.
class PseudoTerminal
{
public:
    PseudoTerminal() = default;
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    // Opens the pair in raw mode (cfmakeraw) at 115200, master non-blocking.
    bool open(QString* error);
    // Closes both ends: the client sees a hangup.
    void close();

    bool isOpen() const { return m_master >= 0; }
    int masterFd() const { return m_master; }
    int clientFd() const { return m_client; }
    QString clientPath() const { return m_clientPath; }

private:
    int m_master = -1;
    int m_client = -1;
    QString m_clientPath;
};

}  // namespace esp32sim
