#include "flash/EsptoolInstaller.h"

#include "flash/QuarantineAttributes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace tavix {

namespace {

constexpr mode_t executableMode = 0755;

std::filesystem::path fsPath(const QString& path)
{
    return std::filesystem::path(QFile::encodeName(path).toStdString());
}

EsptoolInstaller::Error fileError(const QString& what, const std::error_code& error)
{
    return {error.value(), what + u": "_s + QString::fromLocal8Bit(error.message())};
}

bool exists(const QString& path)
{
    struct stat info
    {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0;
}

std::optional<qint64> fileSize(const QString& path)
{
    struct stat info
    {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
    return qint64(info.st_size);
}

// Whether both files could be read and hold the same bytes.
bool sameContents(const QString& first, const QString& second)
{
    QFile a(first);
    QFile b(second);
    if (!a.open(QIODevice::ReadOnly) || !b.open(QIODevice::ReadOnly))
        return false;
    const bool same = a.readAll() == b.readAll();
    return same && a.error() == QFile::NoError && b.error() == QFile::NoError;
}

bool isExecutable(const QString& path)
{
    return ::access(QFile::encodeName(path).constData(), X_OK) == 0;
}

void removeQuietly(const QString& path)
{
    std::error_code ignored;
    std::filesystem::remove(fsPath(path), ignored);
}

}  // namespace

EsptoolInstaller::EsptoolInstaller(EsptoolEnvironment environment)
    : m_environment(std::move(environment))
    , m_chmod([](const QString& path, mode_t mode) {
        return ::chmod(QFile::encodeName(path).constData(), mode);
    })
{}

void EsptoolInstaller::setChmodFunction(ChmodFunction chmodFunction)
{
    m_chmod = std::move(chmodFunction);
}

QString EsptoolInstaller::esptoolResourceName() const
{
    // Linux calls 64-bit Arm "aarch64" where macOS says "arm64"; both run the same build.
    const bool arm64 = m_environment.machine == u"arm64" || m_environment.machine == u"aarch64";
    return arm64 ? u"esptool_arm64"_s : u"esptool_amd64"_s;
}

QString EsptoolInstaller::workingDirectory() const
{
    return m_environment.workingDirectory.isEmpty() ? QDir::currentPath()
                                                    : m_environment.workingDirectory;
}

std::optional<QString> EsptoolInstaller::locateResource(const QString& name,
                                                        const QString& type) const
{
    const QString fileName = type.isEmpty() ? name : name + u'.' + type;
    QStringList candidates;
    if (!m_environment.resourceDirectory.isEmpty())
        candidates.append(QDir(m_environment.resourceDirectory).filePath(fileName));
    if (!m_environment.sourceResourceDirectory.isEmpty())
        candidates.append(QDir(m_environment.sourceResourceDirectory).filePath(fileName));
    const QDir working(workingDirectory());
    candidates.append(working.filePath(u"tavix-flash-tool/"_s + fileName));
    candidates.append(working.filePath(fileName));

    for (const QString& candidate : std::as_const(candidates)) {
        if (exists(candidate))
            return QDir::cleanPath(QFileInfo(candidate).absoluteFilePath());
    }
    return std::nullopt;
}

QString EsptoolInstaller::preparedEsptoolDirectory() const
{
    const QString base = m_environment.applicationSupportDirectory.isEmpty()
                             ? m_environment.temporaryDirectory
                             : m_environment.applicationSupportDirectory;
    return QDir(base).filePath(u"Tavix Flash Tool/esptool"_s);
}

EsptoolInstaller::Error EsptoolInstaller::posixError(const QString& operation, const QString& path)
{
    const int code = errno;
    return {code, operation + u" failed for "_s + path + u": "_s +
                      QString::fromLocal8Bit(std::strerror(code))};
}

std::optional<EsptoolInstaller::Error>
EsptoolInstaller::setExecutableMode(const QString& path, const QString& operation) const
{
    if (m_chmod(path, executableMode) != 0)
        return posixError(operation, path);
    return std::nullopt;
}

bool EsptoolInstaller::needsCopy(const QString& source, const QString& installed) const
{
    if (!exists(installed))
        return true;
    // Another size settles it at once. The same size proves nothing (an update that changes one
    // character of a message keeps it), so the contents decide then: the flasher is small, and
    // this runs once per operation.
    return fileSize(source) != fileSize(installed) || !sameContents(source, installed);
}

std::optional<EsptoolInstaller::Error>
EsptoolInstaller::replaceExecutable(const QString& source, const QString& installed,
                                    const QString& directory) const
{
    const QString temporary = QDir(directory).filePath(
        u'.' + QFileInfo(installed).fileName() + u'.' +
        QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + u".tmp"_s);
    removeQuietly(temporary);

    const auto install = [&]() -> std::optional<Error> {
        std::error_code error;
        std::filesystem::copy_file(fsPath(source), fsPath(temporary), error);
        if (error)
            return fileError(u"Cannot copy "_s + source + u" to "_s + temporary, error);
        removeQuarantineAttributes(temporary);
        if (auto failure = setExecutableMode(temporary, u"chmod executable"_s))
            return failure;
        // rename(2) swaps the new copy in at once: there is never a moment without a runnable
        // flasher, and a failed rename leaves the old copy where it was.
        std::filesystem::rename(fsPath(temporary), fsPath(installed), error);
        if (error)
            return fileError(u"Cannot move "_s + temporary + u" to "_s + installed, error);
        removeQuarantineAttributes(installed);
        return setExecutableMode(installed, u"chmod executable"_s);
    };

    std::optional<Error> failure = install();
    if (failure)
        removeQuietly(temporary);
    return failure;
}

EsptoolInstaller::Outcome EsptoolInstaller::prepare() const
{
    const std::optional<QString> source = locateResource(esptoolResourceName());
    if (!source)
        return {};

    const QString directory = preparedEsptoolDirectory();
    const QString installed = QDir(directory).filePath(QFileInfo(*source).fileName());

    const auto install = [&]() -> std::optional<Error> {
        std::error_code error;
        std::filesystem::create_directories(fsPath(directory), error);
        if (error)
            return fileError(u"Cannot create the folder "_s + directory, error);
        if (m_chmod(directory, executableMode) != 0)
            return posixError(u"chmod directory"_s, directory);
        if (needsCopy(*source, installed))
            return replaceExecutable(*source, installed, directory);
        if (auto failure = setExecutableMode(installed, u"chmod executable"_s))
            return failure;
        removeQuarantineAttributes(installed);
        return std::nullopt;
    };

    if (const std::optional<Error> failure = install())
        return {std::nullopt, u"Failed to prepare esptool: "_s + failure->description + u'\n'};
    if (!isExecutable(installed))
        return {std::nullopt, u"Prepared esptool is not executable: "_s + installed + u'\n'};
    return {installed, {}};
}

}  // namespace tavix
