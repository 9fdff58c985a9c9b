#pragma once

#include "serial/PortLister.h"
#include "serial/PortNaming.h"
#include "serial/SerialPortInfo.h"

#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <memory>

// The list of serial ports that look like an ESP32 board's USB serial interface, sorted by path.
// Belongs to the main thread; every refresh asks the system anew and publishes the result, even
// when nothing changed.
class SerialPortManager : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QList<SerialPortInfo> ports READ ports NOTIFY portsChanged)

public:
    // The platform's port lister, with /dev as the fallback directory.
    explicit SerialPortManager(QObject* parent = nullptr);
    // For tests: any lister, the directory listed by name when the lister cannot list, and any
    // platform's naming.
    SerialPortManager(std::unique_ptr<PortLister> lister, QString devDirectory,
                      PortNaming naming = PortNaming(), QObject* parent = nullptr);
    ~SerialPortManager() override;

    QList<SerialPortInfo> ports() const { return m_ports; }

    // USB vendors whose ports are taken without looking at their names: Espressif, Silicon Labs,
    // WCH and FTDI.
    const QSet<qint64>& supportedVendorIDs() const;
    // Lower-case words that mark a port as a board's when found in its names or path.
    const QStringList& portKeywords() const;

    // Scans and publishes; portsChanged() is emitted on every call.
    void refreshPorts();
    // The supported ports, sorted by path; changes nothing.
    QList<SerialPortInfo> scanPorts() const;
    bool isSupportedPort(const SerialPortInfo& port) const;
    // The ports found by name in the device directory, sorted; used when the lister cannot list.
    QList<SerialPortInfo> scanDevDirectory() const;

Q_SIGNALS:
    void portsChanged();

private:
    void setPorts(QList<SerialPortInfo> ports);

    std::unique_ptr<PortLister> m_lister;
    QString m_devDirectory;
    PortNaming m_naming;
    QList<SerialPortInfo> m_ports;
};
