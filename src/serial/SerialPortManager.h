#pragma once

#include "serial/PortLister.h"
#include "serial/PortNaming.h"
#include "serial/SerialPortInfo.h"
#include "serial/SettledAdapters.h"

#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>

namespace tavix {

// The list of serial ports that look like an ESP32 board's USB serial interface, sorted by path.
// Belongs to the main thread; every refresh asks the system anew and publishes the result, even
// when nothing changed. Beside it, the adapters that such a board would have but that have no
// port, and a signal the moment the system adds or removes serial devices.
class SerialPortManager : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QList<tavix::SerialPortInfo> ports READ ports NOTIFY portsChanged)
    Q_PROPERTY(QList<tavix::PortlessAdapter> portlessAdapters READ portlessAdapters NOTIFY
                   portlessAdaptersChanged)

public:
    // The platform's port lister, with /dev as the fallback directory.
    explicit SerialPortManager(QObject* parent = nullptr);
    // For tests: any lister, the directory listed by name when the lister cannot list, and any
    // platform's naming.
    SerialPortManager(std::unique_ptr<PortLister> lister, QString devDirectory,
                      PortNaming naming = PortNaming(), QObject* parent = nullptr);
    ~SerialPortManager() override;

    QList<SerialPortInfo> ports() const { return m_ports; }
    // Adapters that pass the same filter as ports and have stayed without a port since a refresh
    // at least a second ago; changed only by a refresh.
    QList<PortlessAdapter> portlessAdapters() const { return m_portlessAdapters; }

    // The bursts of device events that systemDevicesChanged() gathers into one.
    static constexpr std::chrono::milliseconds hotplugCoalescing{100};

    // USB vendors whose ports are taken without looking at their names: Espressif, Silicon Labs,
    // WCH and FTDI.
    const QSet<qint64>& supportedVendorIDs() const;
    // Lower-case words that mark a port as a board's when found in its names or path.
    const QStringList& portKeywords() const;

    // Scans and publishes; portsChanged() is emitted on every call, portlessAdaptersChanged()
    // when those changed.
    void refreshPorts();
    // The supported ports, sorted by path; changes nothing.
    QList<SerialPortInfo> scanPorts() const;
    bool isSupportedPort(const SerialPortInfo& port) const;
    // The ports found by name in the device directory, sorted; used when the lister cannot list.
    QList<SerialPortInfo> scanDevDirectory() const;

    // For tests: the time that decides when an adapter without a port has settled.
    void setClock(std::function<SettledAdapters::Clock::time_point()> clock);

Q_SIGNALS:
    void portsChanged();
    void portlessAdaptersChanged();
    // The system added or removed serial devices (a plug-in, an unplug), as its lister's watch
    // announced them, hotplugCoalescing after the first of a burst. Nothing is refreshed here:
    // the owner decides whether to refresh now.
    void systemDevicesChanged();

private:
    void setPorts(QList<SerialPortInfo> ports);
    void scanPortlessAdapters();

    std::unique_ptr<PortLister> m_lister;
    QString m_devDirectory;
    PortNaming m_naming;
    QList<SerialPortInfo> m_ports;
    QList<PortlessAdapter> m_portlessAdapters;
    SettledAdapters m_settledAdapters;
    std::function<SettledAdapters::Clock::time_point()> m_clock = &SettledAdapters::Clock::now;
    std::unique_ptr<PortWatch> m_watch;
    // A child, "hotplugTimer": started by the first event of a burst, not by the rest.
    QTimer m_hotplugTimer{this};
};

}  // namespace tavix
