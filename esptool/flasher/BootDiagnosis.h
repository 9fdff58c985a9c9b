#pragma once

#include "failure/FlasherError.h"

#include <QByteArray>
#include <QString>

namespace esptool {

// Why the chip on `port` never answered SYNC, judged by what came from the port meanwhile
// (`heard`: the first bytes, `bytesHeard`: how many in all). After a reset the ESP32's ROM prints
// a banner at 115200 whose "boot:0xNN" tells the strapping it saw: a board that started its own
// firmware says so, while a silent port and a port full of unreadable bytes point elsewhere.
FlasherError noAnswerDiagnosis(const QString& port, const QByteArray& heard, qint64 bytesHeard);

}  // namespace esptool
