#include "ui/UiTestHarness.h"

#include "flash/ESPToolManager.h"
#include "serial/SerialPortManager.h"
#include "ui/ContentView.h"
#include "ui/MainWindow.h"

#include <QFile>

using namespace Qt::StringLiterals;

using tavix::SerialPortInfo;

UiTestHarness::UiTestHarness(Flasher flasher)
{
    tavix::EsptoolEnvironment environment = m_home.environment();
    if (flasher == Flasher::bundled) {
        environment.resourceDirectory = QString::fromUtf8(TAVIX_RESOURCE_OUTPUT_DIR);
        // The build holds the flasher for this processor only.
        environment.machine = tavix::EsptoolEnvironment::fromSystem().machine;
    } else {
        m_home.addEsptool(u"esptool_amd64"_s);
        m_home.addFirmware();
        // The build's logo, so that the window shows it as the app's does.
        QFile title(QString::fromUtf8(TAVIX_RESOURCE_OUTPUT_DIR) + u"/title.png"_s);
        if (title.open(QIODevice::ReadOnly))
            m_home.addResourceFile(u"title.png"_s, title.readAll());
    }
    auto lister = std::make_unique<FakePortLister>();
    m_lister = lister.get();
    auto* serialManager = new tavix::SerialPortManager(std::move(lister), m_devDirectory.path());
    auto* espTool = new tavix::ESPToolManager(environment);
    m_window = std::make_unique<tavix::MainWindow>(new tavix::ContentView(serialManager, espTool));
}

void UiTestHarness::plug(const QString& path, const QString& vendor, const QString& product,
                         qint64 vendorId)
{
    unplug(path);
    m_lister->ports.append(SerialPortInfo({.path = path,
                                           .name = path.section(u'/', -1),
                                           .vendor = vendor,
                                           .product = product,
                                           .vendorID = vendorId}));
}

void UiTestHarness::unplug(const QString& path)
{
    m_lister->ports.removeIf([&path](const SerialPortInfo& port) { return port.path() == path; });
}

void UiTestHarness::announceDeviceChange()
{
    Q_EMIT m_lister->watch->portsChanged();
}

void UiTestHarness::setPortlessAdapters(const QList<tavix::PortlessAdapter>& adapters)
{
    m_lister->adapters = adapters;
}
