#include "serial/SerialMonitor.h"

#include <QMetaObject>
#include <QSocketNotifier>
#include <QThread>

using namespace Qt::StringLiterals;

namespace tavix {

namespace {

const QString disconnectLine = u"\n--- 串口已断开 ---\n"_s;

}  // namespace

SerialMonitor::SerialMonitor(QObject* parent)
    : QObject(parent)
{}

SerialMonitor::SerialMonitor(int fileDescriptor, QObject* parent)
    : QObject(parent)
    , m_isMonitoring(true)
    , m_fileDescriptor(fileDescriptor)
    , m_readSource(std::make_unique<QSocketNotifier>(fileDescriptor, QSocketNotifier::Read))
{
    connect(m_readSource.get(), &QSocketNotifier::activated, this, &SerialMonitor::readyRead);
}

SerialMonitor::~SerialMonitor()
{
    cancelMonitoring();
}

void SerialMonitor::stopMonitoring()
{
    if (!m_isMonitoring)
        return;
    cancelMonitoring();
    // Queued with the monitor as context: it runs after this call has returned, on the
    // monitor's thread, and is dropped if the monitor is destroyed first.
    QMetaObject::invokeMethod(
        this, [this] { appendToLog(disconnectLine); }, Qt::QueuedConnection);
}

void SerialMonitor::cancelMonitoring()
{
    if (!m_isMonitoring)
        return;
    m_isMonitoring = false;
    Q_EMIT isMonitoringChanged();

    QSocketNotifier* source = m_readSource.release();
    if (!source)
        return;
    // A notifier may only be switched off and deleted on its own thread. From any other thread
    // the cancellation takes effect asynchronously, as the notifier's deletion is posted there;
    // cutting the connection first keeps readyRead() from firing meanwhile.
    disconnect(source, nullptr, this, nullptr);
    if (source->thread() == QThread::currentThread()) {
        source->setEnabled(false);
        delete source;
    } else {
        source->deleteLater();
    }
}

void SerialMonitor::appendToLog(const QString& text)
{
    m_serialLog += text;
    Q_EMIT serialLogChanged();
}

}  // namespace tavix
