#pragma once

#include "esp32sim/chip/TimingModel.h"

#include <QJsonObject>
#include <QMap>
#include <QtGlobal>

#include <optional>

namespace esp32sim {

// What the chip spends its time on, besides the wire.
enum class FlashWork
{
    registerDelay,  // WRITE_REG's delay_us
    erase,
    program,
    md5,
};

// Running totals of one simulator's life, across sessions. Written as JSON by --stats.
struct SimulatorStatistics
{
    qint64 bytesReceived = 0;
    qint64 bytesSent = 0;
    Duration wireReceived{0};
    Duration wireSent{0};
    Duration flashTime{0};    // erase, program, MD5 and register delays
    Duration eraseTime{0};    // FLASH_BEGIN / FLASH_DEFL_BEGIN
    Duration programTime{0};  // FLASH_DATA / FLASH_DEFL_DATA
    Duration md5Time{0};      // SPI_FLASH_MD5
    quint32 finalBaud = 0;
    int sessions = 0;            // sessions started (the first SYNC after a reset)
    int framingErrors = 0;       // frames dropped for a bad SLIP escape
    int errorReplies = 0;        // reply frames with status failure
    int baudMismatches = 0;      // frames ignored because the client sent them at another rate
    qint64 bitsFlipped = 0;      // by FaultOptions::flipRate, both directions
    int restarts = 0;            // by FaultOptions::restart (the watchdog's loop not counted)
    QMap<quint8, int> commands;  // well-formed requests received, by opcode
    // What the client asked for most recently, in any session; empty if never.
    std::optional<quint32> lastSpiAttach;     // SPI_ATTACH pin configuration
    std::optional<quint32> lastSpiFlashSize;  // SPI_SET_PARAMS total size
    std::optional<quint32> lastBaudRequest;   // CHANGE_BAUDRATE first word

    void addWork(FlashWork kind, Duration time);

    // Keys: wireSecondsReceived, wireSecondsSent, flashSeconds, eraseSeconds, programSeconds,
    // md5Seconds, bytesReceived, bytesSent, finalBaud, sessions, restarts, framingErrors,
    // errorReplies, baudMismatches, bitsFlipped, commands ({"0x08": n, ...}),
    // lastSpiAttach, lastSpiFlashSize, lastBaudRequest (null when never sent).
    QJsonObject toJson() const;
};

}  // namespace esp32sim
