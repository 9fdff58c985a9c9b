#include "esp32sim/host/PortOpenWatch.h"

#include <QFile>
#include <QSocketNotifier>

#include <array>
#include <sys/inotify.h>
#include <unistd.h>

namespace esp32sim {

PortOpenWatch::PortOpenWatch(QObject* parent)
    : QObject(parent)
    , m_fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
{
    if (m_fd < 0)
        return;
    m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &PortOpenWatch::drain);
}

PortOpenWatch::~PortOpenWatch()
{
    m_notifier.reset();
    if (m_fd >= 0)
        ::close(m_fd);
}

bool PortOpenWatch::watch(const QString& path)
{
    if (m_fd < 0)
        return false;
    if (m_watch >= 0)
        ::inotify_rm_watch(m_fd, m_watch);
    m_watch = ::inotify_add_watch(m_fd, QFile::encodeName(path).constData(), IN_OPEN);
    return m_watch >= 0;
}

void PortOpenWatch::drain()
{
    if (takeOpened())
        Q_EMIT opened();
}

bool PortOpenWatch::takeOpened()
{
    if (m_fd < 0)
        return false;
    alignas(inotify_event) std::array<char, 4096> buffer{};
    bool sawOpen = false;
    for (;;) {
        const ssize_t n = ::read(m_fd, buffer.data(), buffer.size());
        if (n <= 0)
            break;
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer.data() + at);
            sawOpen = sawOpen || (event->mask & IN_OPEN) != 0;
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    return sawOpen;
}

}  // namespace esp32sim
