#pragma once

#include "serial/DeviceEventSource.h"
#include "serial/PortWatch.h"

#include <memory>

class QSocketNotifier;

namespace tavix {

// Watches a source of device events (udev's monitor) with a socket notifier on the main thread
// and announces the tty devices that were added or removed.
class LinuxPortWatch final : public PortWatch
{
    Q_OBJECT

public:
    explicit LinuxPortWatch(std::unique_ptr<DeviceEventSource> source, QObject* parent = nullptr);
    ~LinuxPortWatch() override;

private:
    void drain();

    std::unique_ptr<DeviceEventSource> m_source;
    QSocketNotifier* m_notifier;
};

}  // namespace tavix
