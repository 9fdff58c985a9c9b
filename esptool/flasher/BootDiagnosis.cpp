#include "flasher/BootDiagnosis.h"

#include "failure/Failure.h"
#include "protocol/BootBanner.h"

namespace esptool {

FlasherError noAnswerDiagnosis(const QString& port, const QByteArray& heard, qint64 bytesHeard)
{
    if (const std::optional<BootBanner> banner = lastBootBanner(heard)) {
        return failure(banner->bootsFromFlash() ? Failure::bootedFirmware
                                                : Failure::waitingButSilent,
                       {port, banner->bootText});
    }
    if (bytesHeard == 0)
        return failure(Failure::noDataAtAll, {port});
    return failure(Failure::noValidReply, {port, QString::number(bytesHeard)});
}

}  // namespace esptool
