#pragma once

#include "TimingModel.h"

#include <QJsonObject>
#include <QMap>
#include <QtGlobal>

namespace esp32sim {

// Running totals of one simulator's life, across sessions. Written as JSON by --stats.
struct SimulatorStatistics
{
    qint64 bytesReceived = 0;
    qint64 bytesSent = 0;
    Duration wireReceived{0};
    Duration wireSent{0};
    Duration flashTime{0};  // erase, program, MD5 and register delays
    quint32 finalBaud = 0;
    int sessions = 0;            // SYNCs that started a fresh loader session
    int framingErrors = 0;       // frames dropped for a bad SLIP escape
    int errorReplies = 0;        // reply frames with status failure
    QMap<quint8, int> commands;  // well-formed requests received, by opcode

    // Keys: wireSecondsReceived, wireSecondsSent, flashSeconds, bytesReceived, bytesSent,
    // finalBaud, sessions, framingErrors, errorReplies, commands ({"0x08": n, ...}).
    QJsonObject toJson() const;
};

}  // namespace esp32sim
