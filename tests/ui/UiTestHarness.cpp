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
    auto registry = std::make_unique<FakeRegistry>();
    m_registry = registry.get();
    auto* serialManager = new SerialPortManager(std::move(registry), m_devDirectory.path());
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
    const FakeRegistry::AdapterEntries entries =
        m_registry->addUsbSerialAdapter({path, vendor, product, vendorID});
    m_adapters.insert(path, {*entries.usbDevice, entries.serialDevice});
}

void UiTestHarness::unplug(const QString& path)
{
    m_registry->removeSerialDevice(m_adapters.take(path).serialDevice);
}

void UiTestHarness::renameVendor(const QString& path, const QString& vendor)
{
    m_registry->setProperty(m_adapters.value(path).usbDevice, u"USB Vendor Name"_s, vendor);
}
