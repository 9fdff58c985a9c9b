#pragma once

#include <QObject>

#include <memory>

class QSocketNotifier;

namespace esp32sim {

// Turns SIGTERM and SIGINT into a Qt signal through a signalfd, so the simulator can finish
// its exit files on the event loop instead of inside a signal handler. blockInThisThread()
// must run before any other thread starts, so that no thread takes the signals the old way.
class TerminationSignals : public QObject
{
    Q_OBJECT

public:
    static bool blockInThisThread();

    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

    bool isValid() const { return m_fd >= 0; }

Q_SIGNALS:
    void received(int signalNumber);

private:
    void drain();

    int m_fd = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

}  // namespace esp32sim
