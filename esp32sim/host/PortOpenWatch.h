#pragma once

#include <QObject>
#include <QString>

#include <memory>

class QSocketNotifier;

namespace esp32sim {

// Tells when a client opens the pty's client side (inotify): a flasher resets the board when it
// opens its port, and a board that then boots its own firmware prints its boot banner at that
// moment.
class PortOpenWatch : public QObject
{
    Q_OBJECT

public:
    explicit PortOpenWatch(QObject* parent = nullptr);
    ~PortOpenWatch() override;

    // Watches `path` from now on, instead of whatever was watched before.
    bool watch(const QString& path);
    // Whether the port was opened since the last look, without waiting. A client opens the port
    // before it writes, so looking here before reading its bytes puts the reset first.
    bool takeOpened();

Q_SIGNALS:
    void opened();

private:
    void drain();

    int m_fd = -1;
    int m_watch = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

}  // namespace esp32sim
