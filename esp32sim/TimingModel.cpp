#include "TimingModel.h"

#include "RomProtocol.h"

namespace esp32sim {

Duration wireTime(qint64 bytes, quint32 baud)
{
    if (baud == 0 || bytes <= 0)
        return Duration{0};
    constexpr qint64 nanosecondsPerSecond = 1'000'000'000;
    return Duration{bytes * bitsPerUartByte * nanosecondsPerSecond / qint64(baud)};
}

}  // namespace esp32sim
