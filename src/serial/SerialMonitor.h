#pragma once

#include <QObject>
#include <QString>

#include <memory>

class QSocketNotifier;

namespace tavix {

// The state of monitoring one open serial device: whether it is active, and the log of what
// was seen. The monitor belongs to the main thread. It never opens, reads or closes the device:
// whoever opened it reads the descriptor when readyRead() says so.
class SerialMonitor : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isMonitoring READ isMonitoring NOTIFY isMonitoringChanged)
    Q_PROPERTY(QString serialLog READ serialLog NOTIFY serialLogChanged)

public:
    // Idle: no descriptor, no read source.
    explicit SerialMonitor(QObject* parent = nullptr);
    // Monitoring an already open descriptor, which stays the caller's to close. Nothing in the
    // application takes this path; it exists so that the stop path can be exercised.
    explicit SerialMonitor(int fileDescriptor, QObject* parent = nullptr);
    // Stops first, without the disconnect line: it would have nobody left to read it.
    ~SerialMonitor() override;

    bool isMonitoring() const { return m_isMonitoring; }
    QString serialLog() const { return m_serialLog; }
    int fileDescriptor() const { return m_fileDescriptor; }

    // Ends monitoring if it is active. The read source is cancelled at once; the disconnect line
    // reaches serialLog later, on the monitor's thread, after this has returned.
    void stopMonitoring();

Q_SIGNALS:
    void isMonitoringChanged();
    void serialLogChanged();
    // The descriptor has data to read; only while monitoring.
    void readyRead();

private:
    void cancelMonitoring();
    void appendToLog(const QString& text);

    bool m_isMonitoring = false;
    QString m_serialLog;
    int m_fileDescriptor = -1;
    std::unique_ptr<QSocketNotifier> m_readSource;
};

}  // namespace tavix
