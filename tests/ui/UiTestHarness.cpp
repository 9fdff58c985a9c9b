#include "UiTestHarness.h"

#include "flash/ESPToolManager.h"
#include "serial/SerialPortManager.h"
#include "ui/ContentView.h"
#include "ui/MainWindow.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

using namespace Qt::StringLiterals;

UiTestHarness::UiTestHarness(Flasher flasher)
{
    const QString buildResources = QString::fromUtf8(TAVIX_RESOURCE_OUTPUT_DIR);
    EsptoolEnvironment environment = m_home.environment();
    if (flasher == Flasher::bundled) {
        environment.resourceDirectory = buildResources;
        // The build holds the flasher for this processor only.
        environment.machine = EsptoolEnvironment::fromSystem().machine;
    } else {
        m_home.addEsptool(u"esptool_amd64"_s);
        m_home.addFirmware();
        QFile title(QDir(buildResources).filePath(u"title.png"_s));
        if (title.open(QIODevice::ReadOnly))
            m_home.addResourceFile(u"title.png"_s, title.readAll());
    }
    auto lister = std::make_unique<FakePortLister>();
    m_lister = lister.get();
    auto* serialManager = new SerialPortManager(std::move(lister), m_devDirectory.path());
    auto* espTool = new ESPToolManager(environment);
    m_window = std::make_unique<MainWindow>(new ContentView(serialManager, espTool));
}

UiTestHarness::~UiTestHarness() = default;

ContentView& UiTestHarness::view() const
{
    return m_window->content();
}

void UiTestHarness::plug(const QString& path, const QString& vendor, const QString& product,
                         qint64 vendorID)
{
    m_lister->ports.append(SerialPortInfo({.path = path,
                                           .name = path.section(u'/', -1),
                                           .vendor = vendor,
                                           .product = product,
                                           .vendorID = vendorID}));
}

void UiTestHarness::unplug(const QString& path)
{
    m_lister->ports.removeIf([&path](const SerialPortInfo& port) { return port.path() == path; });
}

void UiTestHarness::renameVendor(const QString& path, const QString& vendor)
{
    for (SerialPortInfo& port : m_lister->ports) {
        if (port.path() == path)
            port = SerialPortInfo({.path = path,
                                   .name = port.name(),
                                   .vendor = vendor,
                                   .product = port.product(),
                                   .vendorID = port.vendorID()});
    }
}
