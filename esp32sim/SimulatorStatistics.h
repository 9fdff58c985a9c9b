#pragma once

#include "TimingModel.h"

#include <QJsonObject>
#include <QMap>
#include <QtGlobal>

#include <optional>

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
    int baudMismatches = 0;      // frames ignored because the client sent them at another rate
    qint64 bitsFlipped = 0;      // by FaultOptions::flipRate, both directions
    QMap<quint8, int> commands;  // well-formed requests received, by opcode
    // What the client asked for most recently, in any session; empty if never.
    std::optional<quint32> lastSpiAttach;     // SPI_ATTACH pin configuration
    std::optional<quint32> lastSpiFlashSize;  // SPI_SET_PARAMS total size
    std::optional<quint32> lastBaudRequest;   // CHANGE_BAUDRATE first word

    // Keys: wireSecondsReceived, wireSecondsSent, flashSeconds, bytesReceived, bytesSent,
    // finalBaud, sessions, framingErrors, errorReplies, baudMismatches, bitsFlipped,
    // commands ({"0x08": n, ...}),
    // lastSpiAttach, lastSpiFlashSize, lastBaudRequest (null when never sent).
    QJsonObject toJson() const;
};

}  // namespace esp32sim
