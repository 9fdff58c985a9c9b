#include "demo/DemoPortLister.h"

#include <QFileInfo>

#include <utility>

using namespace Qt::StringLiterals;

namespace tavix {

DemoPortLister::DemoPortLister(std::unique_ptr<PortLister> platform, QString boardPort,
                               bool pluggedIn)
    : m_platform(std::move(platform))
    , m_boardPort(std::move(boardPort))
    , m_pluggedIn(pluggedIn)
{}

std::optional<QList<SerialPortInfo>> DemoPortLister::listPorts()
{
    QList<SerialPortInfo> ports = m_platform->listPorts().value_or(QList<SerialPortInfo>());
    if (m_pluggedIn && QFileInfo::exists(m_boardPort)) {
        ports.append(SerialPortInfo({.path = m_boardPort,
                                     .name = m_boardPort.section(u'/', -1),
                                     .vendor = u"Simulated ESP32"_s}));
    }
    return ports;
}

QList<PortlessAdapter> DemoPortLister::listPortlessAdapters()
{
    return m_platform->listPortlessAdapters();
}

std::unique_ptr<PortWatch> DemoPortLister::watchPorts()
{
    auto watch = std::make_unique<PortWatch>();
    if (std::unique_ptr<PortWatch> platform = m_platform->watchPorts()) {
        QObject::connect(platform.get(), &PortWatch::portsChanged, watch.get(),
                         &PortWatch::portsChanged);
        platform.release()->setParent(watch.get());
    }
    m_watch = watch.get();
    return watch;
}

void DemoPortLister::plugIn()
{
    m_pluggedIn = true;
    if (m_watch)
        Q_EMIT m_watch->portsChanged();
}

}  // namespace tavix
