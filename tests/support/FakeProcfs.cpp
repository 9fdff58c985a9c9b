#include "support/FakeProcfs.h"

#include <QDir>
#include <QFile>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

void writeFile(const QString& path, const QByteArray& contents, QIODevice::OpenMode mode = {})
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | mode) || file.write(contents) != contents.size())
        qFatal("FakeProcfs: cannot write %s", qPrintable(path));
}

}  // namespace

FakeProcfs::FakeProcfs()
{
    writeFile(root() + u"/locks"_s, {});
}

void FakeProcfs::addProcess(qint64 pid, const QByteArray& name, const QByteArray& commandLine)
{
    const QString folder = root() + u'/' + QString::number(pid);
    QDir().mkpath(folder);
    writeFile(folder + u"/comm"_s, name + '\n');
    writeFile(folder + u"/cmdline"_s, commandLine);
}

void FakeProcfs::addOpenFile(qint64 pid, const QString& file, std::optional<int> ttyIndex)
{
    const QString folder = root() + u'/' + QString::number(pid);
    QDir().mkpath(folder + u"/fd"_s);
    QDir().mkpath(folder + u"/fdinfo"_s);
    // Descriptors 0 to 2 are the terminal's; the files come after them.
    const QString descriptor = QString::number(QDir(folder + u"/fd"_s).count() + 1);
    if (::symlink(QFile::encodeName(file).constData(),
                  QFile::encodeName(folder + u"/fd/"_s + descriptor).constData()) != 0)
        qFatal("FakeProcfs: cannot link %s", qPrintable(file));
    QByteArray info = "pos:\t0\nflags:\t02\nmnt_id:\t24\n";
    if (ttyIndex)
        info += "tty-index:\t" + QByteArray::number(*ttyIndex) + '\n';
    writeFile(folder + u"/fdinfo/"_s + descriptor, info);
}

void FakeProcfs::addLock(qint64 pid, const QString& file)
{
    struct stat info = {};
    if (::stat(QFile::encodeName(file).constData(), &info) != 0)
        qFatal("FakeProcfs: no file %s", qPrintable(file));
    const QByteArray line = u"1: FLOCK  ADVISORY  WRITE %1 %2:%3:%4 0 EOF\n"_s.arg(pid)
                                .arg(major(info.st_dev), 2, 16, QChar(u'0'))
                                .arg(minor(info.st_dev), 2, 16, QChar(u'0'))
                                .arg(info.st_ino)
                                .toUtf8();
    writeFile(root() + u"/locks"_s, line, QIODevice::Append);
}
