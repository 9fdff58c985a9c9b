#pragma once

#include <QString>
#include <QStringList>

// The two command lines the engine gives the flasher. Global options come before the command,
// write options after it; hyphenated names throughout, as current flashers expect.
namespace tavix::commandline {

// 20 entries, ending with the write address "0x0" and the image path.
QStringList flashArguments(const QString& port, const QString& baud, const QString& imagePath);

// 11 entries: the same global options, then "erase-flash".
QStringList eraseArguments(const QString& port, const QString& baud);

}  // namespace tavix::commandline
