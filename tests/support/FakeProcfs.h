#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <optional>

// A /proc in a temporary folder, as Linux shows it to a user: per process its name (comm), its
// command line, and its open files as links under fd/ with fdinfo/ beside them; the file locks
// of every user in "locks". A process added without open files shows none, as another user's
// process does.
class FakeProcfs
{
public:
    FakeProcfs();

    QString root() const { return m_root.path(); }

    // A process as ps lists it: name is what the kernel keeps (at most 15 bytes), commandLine its
    // arguments, NUL-separated.
    void addProcess(qint64 pid, const QByteArray& name, const QByteArray& commandLine = {});
    // The process has file open on its next descriptor; for a pseudo-terminal's master, with the
    // index of its slave, as the kernel tells it in fdinfo.
    void addOpenFile(qint64 pid, const QString& file, std::optional<int> ttyIndex = std::nullopt);
    // A lock taken with flock() on file, as /proc/locks lists it: the file's device numbers in
    // hexadecimal and its inode.
    void addLock(qint64 pid, const QString& file);

private:
    QTemporaryDir m_root;
};
