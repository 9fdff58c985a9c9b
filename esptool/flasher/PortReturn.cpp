#include "flasher/PortReturn.h"

#include <QDeadlineTimer>
#include <QThread>

namespace esptool {

Result<std::unique_ptr<SerialLink>> waitForPort(const LinkOpener& open, const QString& path,
                                                int baud, std::chrono::milliseconds wait,
                                                std::chrono::milliseconds poll)
{
    const QDeadlineTimer deadline(wait);
    for (;;) {
        Result<std::unique_ptr<SerialLink>> link = open(path, baud);
        if (link)
            return link;
        if (deadline.hasExpired())
            return link;
        QThread::msleep(static_cast<unsigned long>(poll.count()));
    }
}

}  // namespace esptool
