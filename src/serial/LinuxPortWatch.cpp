#include "serial/LinuxPortWatch.h"

#include <QSocketNotifier>

namespace tavix {

LinuxPortWatch::LinuxPortWatch(std::unique_ptr<DeviceEventSource> source, QObject* parent)
    : PortWatch(parent)
    , m_source(std::move(source))
    , m_notifier(new QSocketNotifier(m_source->descriptor(), QSocketNotifier::Read, this))
{
    m_notifier->setObjectName(QStringLiteral("deviceEvents"));
    connect(m_notifier, &QSocketNotifier::activated, this, &LinuxPortWatch::drain);
}

LinuxPortWatch::~LinuxPortWatch() = default;

void LinuxPortWatch::drain()
{
    // Everything pending is read, so that the notifier does not fire again for it; a burst of
    // events (a hub with several adapters plugged in) becomes one signal.
    bool changed = false;
    while (const std::optional<DeviceEvent> event = m_source->receive()) {
        // "change", "bind" and "move" leave the set of ports as it was.
        if (event->subsystem == "tty" && (event->action == "add" || event->action == "remove"))
            changed = true;
    }
    if (changed)
        Q_EMIT portsChanged();
}

}  // namespace tavix
