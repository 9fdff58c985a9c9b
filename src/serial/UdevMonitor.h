#pragma once

#include "serial/DeviceEventSource.h"

#include <memory>

struct udev;
struct udev_monitor;

namespace tavix {

// udev's monitor for tty devices. It listens to the events udev sends once its rules have run
// (not the kernel's own), so that a port it announces already has its permissions and links.
// Where no udev daemon runs (containers, CI), libudev still makes the monitor, which then hears
// nothing.
class UdevMonitor final : public DeviceEventSource
{
public:
    // Nothing when libudev cannot make or start a monitor.
    static std::unique_ptr<UdevMonitor> open();
    ~UdevMonitor() override;

    int descriptor() const override;
    std::optional<DeviceEvent> receive() override;

private:
    struct Unref
    {
        void operator()(udev* context) const;
        void operator()(udev_monitor* monitor) const;
    };

    UdevMonitor() = default;

    std::unique_ptr<udev, Unref> m_udev;
    std::unique_ptr<udev_monitor, Unref> m_monitor;
};

}  // namespace tavix
