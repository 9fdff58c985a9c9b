#pragma once

#include "flash/EsptoolEnvironment.h"

#include <QString>

#include <functional>
#include <optional>
#include <sys/types.h>

namespace tavix {

// Puts a runnable copy of the flasher into the per-user tool folder. The engine never runs the
// flasher from the resources: those may sit on a read-only medium or lack the execute bit.
class EsptoolInstaller
{
public:
    struct Error
    {
        int code = 0;
        QString description;
    };

    // What a preparation gives: the installed path, or the line that says why there is none
    // (empty when the flasher simply is not among the resources).
    struct Outcome
    {
        std::optional<QString> path;
        QString failureLine;
    };

    // Stands for chmod(2), so that tests can make it fail.
    using ChmodFunction = std::function<int(const QString& path, mode_t mode)>;

    explicit EsptoolInstaller(EsptoolEnvironment environment);

    Outcome prepare() const;

    // "esptool_arm64" on 64-bit Arm, "esptool_amd64" on anything else.
    QString esptoolResourceName() const;
    // The first existing file among the resource folder, the source tree's resources, and the
    // working directory's "tavix-flash-tool" folder and the working directory itself.
    std::optional<QString> locateResource(const QString& name, const QString& type = {}) const;
    QString preparedEsptoolDirectory() const;
    // Whether the installed copy is missing, or differs from the source in size or contents.
    bool needsCopy(const QString& source, const QString& installed) const;
    std::optional<Error> replaceExecutable(const QString& source, const QString& installed,
                                           const QString& directory) const;
    // An error for the current errno: "<operation> failed for <path>: <reason>".
    static Error posixError(const QString& operation, const QString& path);

    void setChmodFunction(ChmodFunction chmodFunction);

private:
    std::optional<Error> setExecutableMode(const QString& path, const QString& operation) const;
    QString workingDirectory() const;

    EsptoolEnvironment m_environment;
    ChmodFunction m_chmod;
};

}  // namespace tavix
