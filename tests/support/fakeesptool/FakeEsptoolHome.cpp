#include "support/fakeesptool/FakeEsptoolHome.h"

#include <QDir>
#include <QFile>

using namespace Qt::StringLiterals;

FakeEsptoolHome::FakeEsptoolHome(const QString& machine)
{
    QDir root(m_root.path());
    root.mkpath(u"resources"_s);
    root.mkpath(u"home"_s);
    root.mkpath(u"working"_s);
    m_environment.resourceDirectory = root.filePath(u"resources"_s);
    m_environment.applicationSupportDirectory = root.filePath(u"home"_s);
    m_environment.temporaryDirectory = root.filePath(u"tmp"_s);
    m_environment.workingDirectory = root.filePath(u"working"_s);
    m_environment.machine = machine;
}

QString FakeEsptoolHome::resourceDirectory() const
{
    return m_environment.resourceDirectory;
}

QString FakeEsptoolHome::toolDirectory() const
{
    return QDir(m_environment.applicationSupportDirectory).filePath(u"Tavix Flash Tool/esptool"_s);
}

QString FakeEsptoolHome::resourcePath(const QString& fileName) const
{
    return QDir(resourceDirectory()).filePath(fileName);
}

QString FakeEsptoolHome::installedEsptoolPath() const
{
    const bool arm = m_environment.machine == u"arm64" || m_environment.machine == u"aarch64";
    return QDir(toolDirectory()).filePath(arm ? u"esptool_arm64"_s : u"esptool_amd64"_s);
}

void FakeEsptoolHome::addEsptool(const QString& resourceName)
{
    QFile::copy(QString::fromUtf8(FAKE_ESPTOOL_PATH), resourcePath(resourceName));
}

void FakeEsptoolHome::addFirmware(const QByteArray& content)
{
    addResourceFile(u"UIFlow-core2-Tavix-V2.2-0x0.bin"_s, content);
}

void FakeEsptoolHome::addResourceFile(const QString& fileName, const QByteArray& content)
{
    QFile file(resourcePath(fileName));
    if (file.open(QIODevice::WriteOnly))
        file.write(content);
}

void FakeEsptoolHome::setPlan(const QStringList& steps)
{
    qputenv("FAKE_ESPTOOL_PLAN", steps.join(u'\n').toUtf8());
}

void FakeEsptoolHome::setRecordFile(const QString& path)
{
    if (path.isEmpty())
        qunsetenv("FAKE_ESPTOOL_RECORD");
    else
        qputenv("FAKE_ESPTOOL_RECORD", QFile::encodeName(path));
}

QStringList FakeEsptoolHome::recordedLines(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QString text = QString::fromUtf8(file.readAll());
    if (text.endsWith(u'\n'))
        text.chop(1);
    return text.split(u'\n');
}
