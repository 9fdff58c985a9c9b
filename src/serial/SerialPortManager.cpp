#include "serial/SerialPortManager.h"

#include "serial/PortOrdering.h"

#include <QDir>

#include <algorithm>
#include <utility>

using namespace Qt::StringLiterals;

SerialPortManager::SerialPortManager(QObject* parent)
    : SerialPortManager(createPlatformPortLister(), u"/dev"_s, PortNaming(), parent)
{}

SerialPortManager::SerialPortManager(std::unique_ptr<PortLister> lister, QString devDirectory,
                                     PortNaming naming, QObject* parent)
    : QObject(parent)
    , m_lister(std::move(lister))
    , m_devDirectory(std::move(devDirectory))
    , m_naming(naming)
    , m_watch(m_lister->watchPorts())
{
    m_hotplugTimer.setObjectName(QStringLiteral("hotplugTimer"));
    m_hotplugTimer.setSingleShot(true);
    m_hotplugTimer.setInterval(hotplugCoalescing);
    connect(&m_hotplugTimer, &QTimer::timeout, this, &SerialPortManager::systemDevicesChanged);
    if (m_watch) {
        connect(m_watch.get(), &PortWatch::portsChanged, this, [this] {
            if (!m_hotplugTimer.isActive())
                m_hotplugTimer.start();
        });
    }
}

SerialPortManager::~SerialPortManager() = default;

const QSet<qint64>& SerialPortManager::supportedVendorIDs() const
{
    static const QSet<qint64> vendorIDs{
        0x303A,  // Espressif
        0x10C4,  // Silicon Labs, CP210x bridges
        0x1A86,  // QinHeng Electronics (WCH), CH34x bridges
        0x0403,  // FTDI
    };
    return vendorIDs;
}

const QStringList& SerialPortManager::portKeywords() const
{
    static const QStringList keywords{
        u"espressif"_s,      u"esp32"_s,        u"m5stack"_s,      u"cp210"_s,
        u"slab_usbtouart"_s, u"silicon labs"_s, u"wchusbserial"_s, u"ch340"_s,
        u"ch341"_s,          u"ch910"_s,        u"ftdi"_s,
    };
    return keywords;
}

void SerialPortManager::refreshPorts()
{
    setPorts(scanPorts());
    scanPortlessAdapters();
}

void SerialPortManager::setClock(std::function<SettledAdapters::Clock::time_point()> clock)
{
    m_clock = std::move(clock);
}

void SerialPortManager::scanPortlessAdapters()
{
    // The port filter decides here as for ports: an adapter that would not be listed with its
    // port is not worth a word without one.
    QList<PortlessAdapter> candidates = m_lister->listPortlessAdapters();
    candidates.removeIf([this](const PortlessAdapter& adapter) {
        return !isSupportedPort(SerialPortInfo({.vendor = adapter.vendor,
                                                .product = adapter.product,
                                                .vendorID = adapter.vendorID,
                                                .productID = adapter.productID}));
    });
    QList<PortlessAdapter> settled = m_settledAdapters.update(candidates, m_clock());
    if (settled == m_portlessAdapters)
        return;
    m_portlessAdapters = std::move(settled);
    Q_EMIT portlessAdaptersChanged();
}

QList<SerialPortInfo> SerialPortManager::scanPorts() const
{
    const std::optional<QList<SerialPortInfo>> listed = m_lister->listPorts();
    if (!listed)
        return scanDevDirectory();

    QList<SerialPortInfo> supported;
    for (const SerialPortInfo& port : *listed) {
        if (m_naming.isCalloutPath(port.path()) && isSupportedPort(port))
            supported.append(port);
    }
    sortPortsByPath(supported);
    return supported;
}

bool SerialPortManager::isSupportedPort(const SerialPortInfo& port) const
{
    if (const std::optional<qint64> vendor = port.vendorID();
        vendor && supportedVendorIDs().contains(*vendor))
        return true;
    // Joined with single blanks and empty fields kept, so a keyword may span two neighbours
    // ("Silicon" + "Labs Bridge").
    const QString searchText =
        QStringList{port.vendor(), port.product(), port.name(), port.path()}.join(u' ').toLower();
    const QStringList& keywords = portKeywords();
    return std::any_of(keywords.cbegin(), keywords.cend(), [&searchText](const QString& keyword) {
        return searchText.contains(keyword);
    });
}

QList<SerialPortInfo> SerialPortManager::scanDevDirectory() const
{
    // An unreadable directory lists nothing, which is all the fallback can say about it.
    const QStringList entries =
        QDir(m_devDirectory)
            .entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot,
                       QDir::NoSort);
    const QString directory =
        m_devDirectory.endsWith(u'/') ? m_devDirectory : m_devDirectory + u'/';

    QList<SerialPortInfo> ports;
    for (const QString& entry : entries) {
        if (m_naming.acceptsDevEntry(entry))
            ports.append(SerialPortInfo(
                {.path = directory + entry, .name = m_naming.portNameForDevEntry(entry)}));
    }
    sortPortsByPath(ports);
    return ports;
}

void SerialPortManager::setPorts(QList<SerialPortInfo> ports)
{
    m_ports = std::move(ports);
    Q_EMIT portsChanged();
}
