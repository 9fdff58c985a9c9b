#include "esp32sim/host/ExitFiles.h"

#include <QJsonDocument>
#include <QSaveFile>

using namespace Qt::StringLiterals;

namespace esp32sim {

namespace {

bool writeAtomically(const QString& path, const QByteArray& bytes, QString* error)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    if (error)
        *error = u"cannot write %1: %2"_s.arg(path, file.errorString());
    return false;
}

}  // namespace

bool writeFlashDump(const FlashMemory& flash, const QString& path, QString* error)
{
    return writeAtomically(path, flash.contents(), error);
}

bool writeStatistics(const SimulatorStatistics& statistics, const QString& path, QString* error)
{
    return writeAtomically(path, QJsonDocument(statistics.toJson()).toJson(), error);
}

}  // namespace esp32sim
