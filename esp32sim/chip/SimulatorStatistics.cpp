#include "esp32sim/chip/SimulatorStatistics.h"

#include <QString>

#include <chrono>

using namespace Qt::StringLiterals;

namespace esp32sim {

namespace {

double seconds(Duration d)
{
    return std::chrono::duration<double>(d).count();
}

QJsonValue optionalValue(const std::optional<quint32>& value)
{
    return value ? QJsonValue(qint64(*value)) : QJsonValue(QJsonValue::Null);
}

}  // namespace

void SimulatorStatistics::addWork(FlashWork kind, Duration time)
{
    flashTime += time;
    switch (kind) {
    case FlashWork::registerDelay:
        break;
    case FlashWork::erase:
        eraseTime += time;
        break;
    case FlashWork::program:
        programTime += time;
        break;
    case FlashWork::md5:
        md5Time += time;
        break;
    }
}

QJsonObject SimulatorStatistics::toJson() const
{
    QJsonObject commandCounts;
    for (auto it = commands.cbegin(); it != commands.cend(); ++it)
        commandCounts.insert(u"0x%1"_s.arg(it.key(), 2, 16, QLatin1Char('0')), it.value());

    return QJsonObject{
        {u"wireSecondsReceived"_s, seconds(wireReceived)},
        {u"wireSecondsSent"_s, seconds(wireSent)},
        {u"flashSeconds"_s, seconds(flashTime)},
        {u"eraseSeconds"_s, seconds(eraseTime)},
        {u"programSeconds"_s, seconds(programTime)},
        {u"md5Seconds"_s, seconds(md5Time)},
        {u"bytesReceived"_s, bytesReceived},
        {u"bytesSent"_s, bytesSent},
        {u"finalBaud"_s, qint64(finalBaud)},
        {u"sessions"_s, sessions},
        {u"restarts"_s, restarts},
        {u"framingErrors"_s, framingErrors},
        {u"errorReplies"_s, errorReplies},
        {u"baudMismatches"_s, baudMismatches},
        {u"bitsFlipped"_s, bitsFlipped},
        {u"commands"_s, commandCounts},
        {u"lastSpiAttach"_s, optionalValue(lastSpiAttach)},
        {u"lastSpiFlashSize"_s, optionalValue(lastSpiFlashSize)},
        {u"lastBaudRequest"_s, optionalValue(lastBaudRequest)},
    };
}

}  // namespace esp32sim
