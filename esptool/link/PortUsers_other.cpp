#include "link/PortUsers.h"

// No /proc to look into: nobody is found, and every message says what it said before.
namespace esptool {

PortUsers::PortUsers(QString procRoot)
    : m_procRoot(std::move(procRoot))
{}

QList<PortUser> PortUsers::of(const QString&) const
{
    return {};
}

bool PortUsers::isRunning(const QString&) const
{
    return false;
}

}  // namespace esptool
