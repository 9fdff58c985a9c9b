#pragma once

#include <QByteArray>

#include <optional>

namespace tavix {

// One device event as udev announces it: "add" of a device of the subsystem "tty".
struct DeviceEvent
{
    QByteArray action;
    QByteArray subsystem;
};

// A descriptor that turns readable when device events are pending, and the events themselves:
// udev's monitor, or a test's pipe.
class DeviceEventSource
{
public:
    virtual ~DeviceEventSource() = default;
    DeviceEventSource(const DeviceEventSource&) = delete;
    DeviceEventSource& operator=(const DeviceEventSource&) = delete;

    virtual int descriptor() const = 0;
    // The next pending event without waiting; nothing when none is pending.
    virtual std::optional<DeviceEvent> receive() = 0;

protected:
    DeviceEventSource() = default;
};

}  // namespace tavix
