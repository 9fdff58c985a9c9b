#include "esp32sim/host/PseudoTerminal.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace esp32sim {

namespace {

QString systemError(const char* what)
{
    return u"%1: %2"_s.arg(QLatin1StringView(what), QString::fromLocal8Bit(std::strerror(errno)));
}

}  // namespace

PseudoTerminal::~PseudoTerminal()
{
    close();
}

bool PseudoTerminal::open(QString* error)
{
    close();
    auto fail = [this, error](const char* what) {
        if (error)
            *error = systemError(what);
        close();
        return false;
    };

    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0)
        return fail("posix_openpt");
    if (::grantpt(m_master) != 0)
        return fail("grantpt");
    if (::unlockpt(m_master) != 0)
        return fail("unlockpt");
    char name[128] = {};
    if (::ptsname_r(m_master, name, sizeof name) != 0)
        return fail("ptsname_r");
    m_client = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_client < 0)
        return fail("open client side");

    // Raw from the start: a client that opens the port late, or never sets termios itself,
    // must not get CR/LF translation, XON/XOFF or echo mangling binary frames.
    termios settings{};
    if (::tcgetattr(m_client, &settings) != 0)
        return fail("tcgetattr");
    ::cfmakeraw(&settings);
    ::cfsetispeed(&settings, B115200);
    ::cfsetospeed(&settings, B115200);
    if (::tcsetattr(m_client, TCSANOW, &settings) != 0)
        return fail("tcsetattr");

    const int flags = ::fcntl(m_master, F_GETFL);
    if (flags < 0 || ::fcntl(m_master, F_SETFL, flags | O_NONBLOCK) != 0)
        return fail("fcntl");
    m_clientPath = QString::fromLocal8Bit(name);
    return true;
}

void PseudoTerminal::close()
{
    if (m_master >= 0)
        ::close(m_master);
    if (m_client >= 0)
        ::close(m_client);
    m_master = -1;
    m_client = -1;
}

}  // namespace esp32sim
