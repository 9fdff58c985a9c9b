#pragma once

#include "support/FakePortLister.h"
#include "support/fakeesptool/FakeEsptoolHome.h"
#include "ui/MainWindow.h"

#include <QString>
#include <QTemporaryDir>

#include <memory>

// A real window whose port manager asks a fake lister and whose engine installs its flasher
// into a temporary home. Ports are plugged and unplugged as USB serial adapters.
class UiTestHarness
{
public:
    enum class Flasher
    {
        fake,     // the fake flasher, doing what the test's plan says
        bundled,  // the build's own flasher and firmware image, for boards that esp32-sim plays
    };

    explicit UiTestHarness(Flasher flasher = Flasher::fake);

    tavix::MainWindow& window() const { return *m_window; }
    tavix::ContentView& view() const { return m_window->content(); }
    FakeEsptoolHome& home() { return m_home; }

    // A USB adapter with these names and vendor ID, whose serial device node is path; it replaces
    // what was plugged in under that path.
    void plug(const QString& path, const QString& vendor, const QString& product,
              qint64 vendorId = 0x10C4);
    void unplug(const QString& path);
    // The system's news that serial devices came or went, as udev's monitor brings it.
    void announceDeviceChange();
    // Adapters that are plugged in without a port, from the next refresh on.
    void setPortlessAdapters(const QList<tavix::PortlessAdapter>& adapters);

private:
    FakeEsptoolHome m_home;
    QTemporaryDir m_devDirectory;
    FakePortLister* m_lister = nullptr;
    std::unique_ptr<tavix::MainWindow> m_window;
};
