#pragma once

#include "serial/PortLister.h"

#include <QPointer>
#include <QString>

#include <memory>

namespace tavix {

// The machine's own serial ports and the simulated board, named so that nobody takes it for
// hardware: the menu shows "Simulated ESP32 (/dev/pts/3)", short enough for the closed menu to
// show the path. That path (/dev/pts/N, or /dev/shm/... for a link that returns) sorts before
// Linux's /dev/tty* nodes, so the window, which takes the first port, selects the board.
class DemoPortLister : public PortLister
{
public:
    // A board not yet plugged in is listed from plugIn() on.
    DemoPortLister(std::unique_ptr<PortLister> platform, QString boardPort, bool pluggedIn = true);

    // The board only while its port exists, as an adapter is listed only while plugged in. When
    // the platform cannot list, the board alone, without the /dev names that would stand in.
    std::optional<QList<SerialPortInfo>> listPorts() override;
    QList<PortlessAdapter> listPortlessAdapters() override;
    // The platform's news of its devices, and the board's plug-in.
    std::unique_ptr<PortWatch> watchPorts() override;

    // The board is plugged in, and announced at once, as udev announces an adapter.
    void plugIn();

private:
    std::unique_ptr<PortLister> m_platform;
    QString m_boardPort;
    bool m_pluggedIn;
    QPointer<PortWatch> m_watch;
};

}  // namespace tavix
