#include "serial/SerialPortManager.h"

#include "serial/PathCollator.h"
#include "serial/PortTrace.h"

#include <QDir>

#include <algorithm>
#include <utility>

using namespace Qt::StringLiterals;

namespace tavix {

namespace {

// Joined with single blanks and empty fields kept, so a keyword may span two neighbours
// ("Silicon" + "Labs Bridge").
QString searchTextOf(const SerialPortInfo& port)
{
    return QStringList{port.vendor(), port.product(), port.name(), port.path()}
        .join(u' ')
        .toLower();
}

QString vendorIdText(std::optional<qint64> vendorId)
{
    return vendorId ? u"%1"_s.arg(*vendorId, 4, 16, QChar(u'0')) : u"none"_s;
}

}  // namespace

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
    static const QSet<qint64> vendors{
        0x303A,  // Espressif
        0x10C4,  // Silicon Labs, CP210x bridges
        0x1A86,  // QinHeng Electronics (WCH), CH34x bridges
        0x0403,  // FTDI
    };
    return vendors;
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
        const bool supported = isSupportedPort(SerialPortInfo({.vendor = adapter.vendor,
                                                               .product = adapter.product,
                                                               .vendorID = adapter.vendorId,
                                                               .productID = adapter.productId}));
        if (!supported) {
            qCDebug(portTrace).noquote()
                << u"left out the adapter without a port %1: not a board's adapter"_s.arg(
                       traceQuoted(adapter.identity()));
        }
        return !supported;
    });
    QList<PortlessAdapter> settled = m_settledAdapters.update(candidates, m_clock());
    for (const PortlessAdapter& adapter : std::as_const(candidates)) {
        if (!settled.contains(adapter)) {
            qCDebug(portTrace).noquote()
                << u"held back the adapter without a port %1: its driver may still bind"_s.arg(
                       traceQuoted(adapter.identity()));
        }
    }
    if (settled == m_portlessAdapters)
        return;
    m_portlessAdapters = std::move(settled);
    Q_EMIT portlessAdaptersChanged();
}

QList<SerialPortInfo> SerialPortManager::scanPorts() const
{
    const std::optional<QList<SerialPortInfo>> listed = m_lister->listPorts();
    if (!listed) {
        qCDebug(portTrace).noquote()
            << u"the system cannot list its serial ports: taking them from the names in "_s +
                   traceQuoted(m_devDirectory);
        return scanDevDirectory();
    }

    QList<SerialPortInfo> supported;
    for (const SerialPortInfo& port : *listed) {
        if (!m_naming.isCalloutPath(port.path())) {
            qCDebug(portTrace).noquote()
                << u"left out %1: not a device node that a flasher opens"_s.arg(
                       traceQuoted(port.path()));
        } else if (!isSupportedPort(port)) {
            qCDebug(portTrace).noquote()
                << u"left out %1: its vendor ID (%2) is none of the boards' and no keyword is in "
                   "%3"_s.arg(traceQuoted(port.path()), vendorIdText(port.vendorID()),
                              traceQuoted(searchTextOf(port)));
        } else {
            supported.append(port);
        }
    }
    sortPortsByPath(supported);
    return supported;
}

bool SerialPortManager::isSupportedPort(const SerialPortInfo& port) const
{
    if (const std::optional<qint64> vendor = port.vendorID();
        vendor && supportedVendorIDs().contains(*vendor))
        return true;
    const QString searchText = searchTextOf(port);
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
    // Most entries of /dev are no serial devices at all; one line says how many were passed over.
    qCDebug(portTrace).noquote() << u"left out %1 of %2 entries of %3: no serial adapter's name"_s
                                        .arg(entries.size() - ports.size())
                                        .arg(entries.size())
                                        .arg(traceQuoted(m_devDirectory));
    sortPortsByPath(ports);
    return ports;
}

void SerialPortManager::setPorts(QList<SerialPortInfo> ports)
{
    m_ports = std::move(ports);
    Q_EMIT portsChanged();
}

}  // namespace tavix
