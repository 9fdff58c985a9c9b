#pragma once

#include "serial/DeviceEventSource.h"

// Device events that a test sends through a pipe, so that they reach the watch as udev's do:
// through its descriptor turning readable.
class FakeDeviceEvents final : public tavix::DeviceEventSource
{
public:
    FakeDeviceEvents();
    ~FakeDeviceEvents() override;

    void send(const QByteArray& action, const QByteArray& subsystem);
    // Whether the watch has taken every event sent so far.
    bool drained() const;

    int descriptor() const override { return m_readEnd; }
    std::optional<tavix::DeviceEvent> receive() override;

private:
    int m_readEnd = -1;
    int m_writeEnd = -1;
};
