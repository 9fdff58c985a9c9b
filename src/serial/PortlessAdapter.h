#pragma once

#include <QList>
#include <QMetaType>
#include <QString>

namespace tavix {

// A USB serial adapter that is plugged in but has no serial port, and what has its serial
// interface instead. Only a lister that sees USB interfaces and their drivers can tell; the
// others report none.
struct PortlessAdapter
{
    QString location = {};  // the kernel's name of the USB device, its bus and ports: "1-2"
    QString vendor = {};
    QString product = {};
    quint16 vendorId = 0;
    quint16 productId = 0;
    QString interfaceName = {};   // the interface a serial driver would take: "1-2:1.0"
    QString expectedDriver = {};  // the kernel module that would give it a port: "ch341"
    QString boundDriver = {};     // the driver that has the interface instead; empty for none
    QString claimedBy = {};       // the known service that took it through usbfs: "brltty"
    QString serviceRule = {};     // that service's udev rules file: "85-brltty.rules"

    friend bool operator==(const PortlessAdapter&, const PortlessAdapter&) = default;

    // The same adapter from one scan to the next, whatever has its interface meanwhile.
    QString identity() const;
    // For the user: which adapter, why it has no port and what to do, in a few sentences.
    QString hint() const;
};

// Every adapter's hint, one paragraph each; empty for none.
QString portlessAdaptersHint(const QList<PortlessAdapter>& adapters);

}  // namespace tavix

Q_DECLARE_METATYPE(tavix::PortlessAdapter)
