#pragma once

#include "serial/PortWatch.h"
#include "serial/PortlessAdapter.h"
#include "serial/SerialPortInfo.h"

#include <QList>

#include <memory>
#include <optional>

namespace tavix {

// Asks the operating system for its serial devices. Each port comes with the USB identity of the
// adapter behind it: vendor and product names and IDs, empty or absent where none was found. One
// lister per platform; CMake picks the file.
class PortLister
{
public:
    virtual ~PortLister();

    PortLister(const PortLister&) = delete;
    PortLister& operator=(const PortLister&) = delete;

    // Every serial device that has a device node, unfiltered and unsorted. Nothing when the
    // system cannot be asked at all; the caller then lists /dev by name instead. An empty list
    // is an ordinary answer.
    virtual std::optional<QList<SerialPortInfo>> listPorts() = 0;

    // USB serial adapters that are plugged in but have no serial device, unfiltered; none where
    // the platform cannot tell.
    virtual QList<PortlessAdapter> listPortlessAdapters();

    // Announces serial devices as they come and go; nothing where the platform cannot, and the
    // caller's timer alone finds them.
    virtual std::unique_ptr<PortWatch> watchPorts();

protected:
    PortLister() = default;
};

// The lister this build was configured with (TAVIX_PORT_LISTER).
std::unique_ptr<PortLister> createPlatformPortLister();

}  // namespace tavix
