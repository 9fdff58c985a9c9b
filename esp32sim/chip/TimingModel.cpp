#include "esp32sim/chip/TimingModel.h"

#include "esp32sim/protocol/RomProtocol.h"

namespace esp32sim {

namespace {

constexpr qint64 nanosecondsPerSecond = 1'000'000'000;
constexpr qint64 bytesPerKib = 1024;

}  // namespace

Duration wireTime(qint64 bytes, quint32 baud)
{
    if (baud == 0 || bytes <= 0)
        return Duration{0};
    return Duration{bytes * bitsPerUartByte * nanosecondsPerSecond / qint64(baud)};
}

Duration md5Time(qint64 bytes, std::optional<quint32> kibPerSecond)
{
    if (!kibPerSecond || *kibPerSecond == 0)
        return md5TimePerByte * bytes;
    return rateTime(bytes, *kibPerSecond);
}

Duration rateTime(qint64 bytes, quint32 kibPerSecond)
{
    if (kibPerSecond == 0)
        return Duration{0};
    return Duration{bytes * nanosecondsPerSecond / (qint64(kibPerSecond) * bytesPerKib)};
}

}  // namespace esp32sim
