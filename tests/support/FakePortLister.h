#pragma once

#include "serial/PortLister.h"

// Lists whatever a test has put into ports and adapters, or cannot list at all while
// unavailable. Its watch is the test's to emit portsChanged() on.
class FakePortLister final : public PortLister
{
public:
    std::optional<QList<SerialPortInfo>> listPorts() override
    {
        ++listings;
        return available ? std::optional(ports) : std::nullopt;
    }
    QList<PortlessAdapter> listPortlessAdapters() override { return adapters; }
    std::unique_ptr<PortWatch> watchPorts() override
    {
        auto made = std::make_unique<PortWatch>();
        watch = made.get();
        return made;
    }

    QList<SerialPortInfo> ports;
    QList<PortlessAdapter> adapters;
    bool available = true;
    int listings = 0;
    PortWatch* watch = nullptr;
};
