#include "flash/EsptoolCommandLine.h"

using namespace Qt::StringLiterals;

namespace tavix::commandline {
namespace {

QStringList globalOptions(const QString& port, const QString& baud)
{
    return {u"--chip"_s, u"esp32"_s,    u"--port"_s,        port,         u"--baud"_s,
            baud,        u"--before"_s, u"default-reset"_s, u"--after"_s, u"hard-reset"_s};
}

}  // namespace

QStringList flashArguments(const QString& port, const QString& baud, const QString& imagePath)
{
    return globalOptions(port, baud) +
           QStringList{u"write-flash"_s,  u"--compress"_s, u"--flash-mode"_s, u"dio"_s,
                       u"--flash-freq"_s, u"80m"_s,        u"--flash-size"_s, u"detect"_s,
                       u"0x0"_s,          imagePath};
}

QStringList eraseArguments(const QString& port, const QString& baud)
{
    return globalOptions(port, baud) + QStringList{u"erase-flash"_s};
}

}  // namespace tavix::commandline
