#include "DemoPortLister.h"

#include <QFileInfo>

#include <utility>

using namespace Qt::StringLiterals;

DemoPortLister::DemoPortLister(std::unique_ptr<PortLister> platform, QString boardPort)
    : m_platform(std::move(platform))
    , m_boardPort(std::move(boardPort))
{}

std::optional<QList<SerialPortInfo>> DemoPortLister::listPorts()
{
    QList<SerialPortInfo> ports = m_platform->listPorts().value_or(QList<SerialPortInfo>());
    if (QFileInfo::exists(m_boardPort)) {
        ports.append(SerialPortInfo({.path = m_boardPort,
                                     .name = m_boardPort.section(u'/', -1),
                                     .vendor = u"Simulated ESP32"_s}));
    }
    return ports;
}
