#pragma once

#include "serial/PortLister.h"

namespace tavix {

// Lists serial ports through QSerialPortInfo, which walks each platform's own registry (IOKit on
// macOS, SetupAPI on Windows) and fills in the USB identity it finds there.
class QtPortLister final : public PortLister
{
public:
    QtPortLister() = default;

    std::optional<QList<SerialPortInfo>> listPorts() override;
};

}  // namespace tavix
