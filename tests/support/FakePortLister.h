#pragma once

#include "serial/PortLister.h"

// Lists whatever a test has put into ports, or cannot list at all while unavailable.
class FakePortLister final : public PortLister
{
public:
    std::optional<QList<SerialPortInfo>> listPorts() override
    {
        ++listings;
        return available ? std::optional(ports) : std::nullopt;
    }

    QList<SerialPortInfo> ports;
    bool available = true;
    int listings = 0;
};
