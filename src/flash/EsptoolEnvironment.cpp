#include "flash/EsptoolEnvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>

#include <sys/utsname.h>

using namespace Qt::StringLiterals;

namespace tavix {

namespace {

QString applicationResourceDirectory()
{
    if (!QCoreApplication::instance())
        return {};
    const QDir applicationDir(QCoreApplication::applicationDirPath());
    // A build tree; an installation on Linux; a macOS app bundle (the program in Contents/MacOS).
    for (const QString& candidate :
         {u"resources"_s, u"../share/tavix-flash-tool"_s, u"../Resources"_s}) {
        if (applicationDir.exists(candidate))
            return QDir::cleanPath(applicationDir.absoluteFilePath(candidate));
    }
    return {};
}

QString machineName()
{
    utsname name{};
    if (uname(&name) != 0)
        return {};
    return QString::fromLocal8Bit(name.machine);
}

}  // namespace

EsptoolEnvironment EsptoolEnvironment::fromSystem()
{
    EsptoolEnvironment environment;
    environment.resourceDirectory = applicationResourceDirectory();
    environment.sourceResourceDirectory = QString::fromUtf8(TAVIX_SOURCE_RESOURCE_DIR);
    environment.applicationSupportDirectory =
        QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation).value(0);
    environment.temporaryDirectory = QDir::tempPath();
    environment.machine = machineName();
    return environment;
}

}  // namespace tavix
