#include "link/PortUsers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <array>
#include <climits>
#include <optional>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace esptool {

namespace {

// The kernel keeps 15 bytes of a program's name; longer names are cut there.
constexpr qsizetype longestProcessName = 15;

struct FileIdentity
{
    dev_t device = 0;
    ino_t inode = 0;
};

std::optional<FileIdentity> identityOf(const QByteArray& path)
{
    struct stat info = {};
    if (::stat(path.constData(), &info) != 0)
        return std::nullopt;
    return FileIdentity{info.st_dev, info.st_ino};
}

bool same(const std::optional<FileIdentity>& a, const FileIdentity& b)
{
    return a && a->device == b.device && a->inode == b.inode;
}

QByteArray readSmallFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.read(PATH_MAX) : QByteArray();
}

QList<qint64> processIds(const QString& procRoot)
{
    QList<qint64> pids;
    const QStringList entries = QDir(procRoot).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        bool isNumber = false;
        const qint64 pid = entry.toLongLong(&isNumber);
        if (isNumber && pid > 0)
            pids.append(pid);
    }
    return pids;
}

QString programName(const QString& procRoot, qint64 pid)
{
    const QString folder = procRoot + u'/' + QString::number(pid);
    QString name = QString::fromLocal8Bit(readSmallFile(folder + u"/comm"_s).trimmed());
    if (name.size() < longestProcessName)
        return name;
    // A name cut short is completed from the command line's first word, when that agrees.
    const QString first =
        QFileInfo(QString::fromLocal8Bit(readSmallFile(folder + u"/cmdline"_s).split('\0').at(0)))
            .fileName();
    return first.startsWith(name) ? first : name;
}

// /proc/locks: "1: FLOCK  ADVISORY  WRITE 4242 00:05:1234 0 EOF", the file named by its device's
// major and minor numbers in hexadecimal and its inode; "->" marks a process waiting for a lock.
QList<qint64> lockHolders(const QString& procRoot, const FileIdentity& port)
{
    QList<qint64> pids;
    const QList<QByteArray> lines = readSmallFile(procRoot + u"/locks"_s).split('\n');
    for (const QByteArray& line : lines) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 6 || fields.contains("->"))
            continue;
        const QList<QByteArray> file = fields[5].split(':');
        bool ok = file.size() == 3;
        const uint majorNumber = file.value(0).toUInt(&ok, 16);
        const uint minorNumber = ok ? file.value(1).toUInt(&ok, 16) : 0;
        const qulonglong inode = ok ? file.value(2).toULongLong(&ok) : 0;
        const qint64 pid = fields[4].toLongLong();
        // Locks of open file descriptions belong to no process and show -1.
        if (ok && pid > 0 && majorNumber == major(port.device) &&
            minorNumber == minor(port.device) && inode == port.inode && !pids.contains(pid))
            pids.append(pid);
    }
    return pids;
}

// The number of a pseudo-terminal's slave, /dev/pts/<n>; nothing for other devices.
std::optional<int> slaveIndex(const QString& canonicalPath)
{
    const QFileInfo node(canonicalPath);
    bool isNumber = false;
    const int index = node.fileName().toInt(&isNumber);
    if (!isNumber || QFileInfo(node.path()).fileName() != u"pts"_s)
        return std::nullopt;
    return index;
}

}  // namespace

PortUsers::PortUsers(QString procRoot)
    : m_procRoot(std::move(procRoot))
{}

QList<PortUser> PortUsers::of(const QString& portPath) const
{
    const QString canonical = QFileInfo(portPath).canonicalFilePath();
    const std::optional<FileIdentity> port = identityOf(QFile::encodeName(canonical));
    if (!port)
        return {};
    const std::optional<int> ptyIndex = slaveIndex(canonical);
    const qint64 self = ::getpid();

    QList<qint64> openers;
    QList<qint64> farEnds;
    const QList<qint64> pids = processIds(m_procRoot);
    for (const qint64 pid : pids) {
        const QString process = m_procRoot + u'/' + QString::number(pid);
        // Another user's open files are hidden: the folder cannot be read.
        const QStringList descriptors =
            QDir(process + u"/fd"_s)
                .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
        for (const QString& descriptor : descriptors) {
            const QByteArray link = QFile::encodeName(process + u"/fd/"_s + descriptor);
            if (same(identityOf(link), *port) && !openers.contains(pid))
                openers.append(pid);
            if (ptyIndex &&
                QFileInfo(QFile::symLinkTarget(QFile::decodeName(link))).fileName() == u"ptmx"_s &&
                readSmallFile(process + u"/fdinfo/"_s + descriptor)
                    .contains("tty-index:\t" + QByteArray::number(*ptyIndex) + '\n'))
                farEnds.append(pid);
        }
    }

    QList<PortUser> users;
    const auto add = [&](qint64 pid, bool locks) {
        const bool known = std::any_of(users.cbegin(), users.cend(),
                                       [pid](const PortUser& user) { return user.pid == pid; });
        if (pid != self && !farEnds.contains(pid) && !known)
            users.append({pid, programName(m_procRoot, pid), locks});
    };
    for (const qint64 pid : lockHolders(m_procRoot, *port))
        add(pid, true);
    for (const qint64 pid : std::as_const(openers))
        add(pid, false);
    return users;
}

bool PortUsers::isRunning(const QString& program) const
{
    const QList<qint64> pids = processIds(m_procRoot);
    return std::any_of(pids.cbegin(), pids.cend(),
                       [&](qint64 pid) { return programName(m_procRoot, pid) == program; });
}

}  // namespace esptool
