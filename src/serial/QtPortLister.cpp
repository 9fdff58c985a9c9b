#include "serial/QtPortLister.h"

#include <QSerialPortInfo>

namespace tavix {

std::optional<QList<SerialPortInfo>> QtPortLister::listPorts()
{
    const QList<QSerialPortInfo> available = QSerialPortInfo::availablePorts();
    QList<SerialPortInfo> ports;
    ports.reserve(available.size());
    for (const QSerialPortInfo& port : available) {
        SerialPortInfo::Fields fields{.path = port.systemLocation(),
                                      .name = port.portName(),
                                      .vendor = port.manufacturer(),
                                      .product = port.description()};
        if (port.hasVendorIdentifier())
            fields.vendorID = port.vendorIdentifier();
        if (port.hasProductIdentifier())
            fields.productID = port.productIdentifier();
        ports.append(SerialPortInfo(std::move(fields)));
    }
    return ports;
}

std::unique_ptr<PortLister> createPlatformPortLister()
{
    return std::make_unique<QtPortLister>();
}

}  // namespace tavix
