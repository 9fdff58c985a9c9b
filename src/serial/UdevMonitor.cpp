#include "serial/UdevMonitor.h"

#include <libudev.h>

namespace tavix {

void UdevMonitor::Unref::operator()(udev* context) const
{
    udev_unref(context);
}

void UdevMonitor::Unref::operator()(udev_monitor* monitor) const
{
    udev_monitor_unref(monitor);
}

std::unique_ptr<UdevMonitor> UdevMonitor::open()
{
    std::unique_ptr<UdevMonitor> monitor(new UdevMonitor);
    monitor->m_udev.reset(udev_new());
    if (!monitor->m_udev)
        return nullptr;
    monitor->m_monitor.reset(udev_monitor_new_from_netlink(monitor->m_udev.get(), "udev"));
    if (!monitor->m_monitor ||
        udev_monitor_filter_add_match_subsystem_devtype(monitor->m_monitor.get(), "tty", nullptr) <
            0 ||
        udev_monitor_enable_receiving(monitor->m_monitor.get()) < 0 ||
        udev_monitor_get_fd(monitor->m_monitor.get()) < 0)
        return nullptr;
    return monitor;
}

UdevMonitor::~UdevMonitor() = default;

int UdevMonitor::descriptor() const
{
    return udev_monitor_get_fd(m_monitor.get());
}

std::optional<DeviceEvent> UdevMonitor::receive()
{
    // The monitor's socket does not block: with nothing pending this gives nothing at once.
    udev_device* device = udev_monitor_receive_device(m_monitor.get());
    if (!device)
        return std::nullopt;
    DeviceEvent event{udev_device_get_action(device), udev_device_get_subsystem(device)};
    udev_device_unref(device);
    return event;
}

}  // namespace tavix
