#pragma once

#include "serial/PortLister.h"

// Lists whatever a test has put into ports and adapters, or cannot list at all while
// unavailable. Its watch is the test's to emit portsChanged() on.
class FakePortLister final : public tavix::PortLister
{
public:
    std::optional<QList<tavix::SerialPortInfo>> listPorts() override
    {
        ++listings;
        return available ? std::optional(ports) : std::nullopt;
    }
    QList<tavix::PortlessAdapter> listPortlessAdapters() override { return adapters; }
    std::unique_ptr<tavix::PortWatch> watchPorts() override
    {
        auto made = std::make_unique<tavix::PortWatch>();
        watch = made.get();
        return made;
    }

    QList<tavix::SerialPortInfo> ports;
    QList<tavix::PortlessAdapter> adapters;
    bool available = true;
    int listings = 0;
    tavix::PortWatch* watch = nullptr;
};
