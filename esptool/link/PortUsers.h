#pragma once

#include <QList>
#include <QString>

namespace esptool {

// A process that has a serial port open.
struct PortUser
{
    qint64 pid = 0;
    QString program;     // its name ("screen"); empty when it could not be read
    bool locks = false;  // it holds a lock on the port, as serial tools take to keep others out

    friend bool operator==(const PortUser&, const PortUser&) = default;
};

// Finds the other processes that use a serial port, as far as the system lets this user see:
// lock holders of every user, and the processes of this user that have the port open. Never this
// process, nor the far end of a pseudo-terminal (the process holding its master, such as a
// simulated board). Each platform has its own file; where there is no way to look, none are
// found.
class PortUsers
{
public:
    // procRoot is "/proc" on a running Linux system; tests hand in a tree of their own.
    explicit PortUsers(QString procRoot = QStringLiteral("/proc"));

    // Lock holders first, then those that merely have it open.
    QList<PortUser> of(const QString& portPath) const;
    // Whether a process of this name runs; names are visible for every user's processes.
    bool isRunning(const QString& program) const;

private:
    QString m_procRoot;
};

// "screen, process 4242; minicom, process 4300"
QString describePortUsers(const QList<PortUser>& users);

}  // namespace esptool
