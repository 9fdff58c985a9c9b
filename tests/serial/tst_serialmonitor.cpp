#include "serial/SerialMonitor.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <fcntl.h>
#include <memory>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const QString disconnectLine = u"\n--- 串口已断开 ---\n"_s;

// Runs the queued calls (the disconnect line among them) and pending deletions, once.
void runPostedEvents()
{
    QCoreApplication::sendPostedEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

bool isOpen(int descriptor)
{
    return ::fcntl(descriptor, F_GETFD) != -1;
}

}  // namespace

class TestSerialMonitor : public QObject
{
    Q_OBJECT

private:
    // A pipe stands in for the serial device: its read end becomes readable on a write.
    int m_pipe[2] = {-1, -1};

    void writeToDevice() { QCOMPARE(::write(m_pipe[1], "x", 1), ssize_t(1)); }

private Q_SLOTS:
    void init()
    {
        QCOMPARE(::pipe(m_pipe), 0);
        // Notifiers touched from the wrong thread only warn; make that a failure here.
        QTest::failOnWarning(QRegularExpression(u".*"_s));
    }

    void cleanup()
    {
        runPostedEvents();
        ::close(m_pipe[0]);
        ::close(m_pipe[1]);
    }

    void disconnectLineIsTwentyFiveBytes() { QCOMPARE(disconnectLine.toUtf8().size(), 25); }

    void newMonitorIsIdle()
    {
        const SerialMonitor monitor;
        QVERIFY(!monitor.isMonitoring());
        QVERIFY(monitor.serialLog().isEmpty());
        QCOMPARE(monitor.fileDescriptor(), -1);
    }

    void stoppingAnIdleMonitorChangesNothing()
    {
        SerialMonitor monitor;
        QSignalSpy monitoring(&monitor, &SerialMonitor::isMonitoringChanged);
        QSignalSpy log(&monitor, &SerialMonitor::serialLogChanged);

        monitor.stopMonitoring();
        runPostedEvents();

        QVERIFY(!monitor.isMonitoring());
        QVERIFY(monitor.serialLog().isEmpty());
        QCOMPARE(monitoring.count(), 0);
        QCOMPARE(log.count(), 0);
    }

    void stopAppendsTheDisconnectLineAfterReturning()
    {
        SerialMonitor monitor(m_pipe[0]);
        QVERIFY(monitor.isMonitoring());
        QCOMPARE(monitor.fileDescriptor(), m_pipe[0]);
        QSignalSpy monitoring(&monitor, &SerialMonitor::isMonitoringChanged);
        QSignalSpy log(&monitor, &SerialMonitor::serialLogChanged);

        monitor.stopMonitoring();

        QVERIFY(!monitor.isMonitoring());
        QCOMPARE(monitoring.count(), 1);
        QVERIFY(monitor.serialLog().isEmpty());
        QCOMPARE(log.count(), 0);

        runPostedEvents();

        QCOMPARE(monitor.serialLog(), disconnectLine);
        QCOMPARE(log.count(), 1);
        QCOMPARE(monitor.fileDescriptor(), m_pipe[0]);
        QVERIFY(isOpen(m_pipe[0]));
    }

    void stoppingTwiceAppendsOnce()
    {
        SerialMonitor monitor(m_pipe[0]);
        QSignalSpy monitoring(&monitor, &SerialMonitor::isMonitoringChanged);

        monitor.stopMonitoring();
        monitor.stopMonitoring();
        runPostedEvents();
        monitor.stopMonitoring();
        runPostedEvents();

        QCOMPARE(monitor.serialLog(), disconnectLine);
        QCOMPARE(monitoring.count(), 1);
    }

    void readSourceSignalsOnlyWhileMonitoring()
    {
        SerialMonitor monitor(m_pipe[0]);
        QSignalSpy ready(&monitor, &SerialMonitor::readyRead);
        writeToDevice();
        QTRY_VERIFY(ready.count() > 0);

        monitor.stopMonitoring();
        ready.clear();
        // The unread byte keeps the descriptor readable: a live notifier would fire at once.
        for (int round = 0; round < 3; ++round)
            QCoreApplication::processEvents();
        QCOMPARE(ready.count(), 0);
    }

    void propertiesNotify()
    {
        SerialMonitor monitor(m_pipe[0]);
        QSignalSpy monitoring(&monitor, &SerialMonitor::isMonitoringChanged);
        QCOMPARE(monitor.property("isMonitoring").toBool(), true);

        monitor.stopMonitoring();
        runPostedEvents();

        QCOMPARE(monitor.property("isMonitoring").toBool(), false);
        QCOMPARE(monitor.property("serialLog").toString(), disconnectLine);
        QCOMPARE(monitoring.count(), 1);
    }

    void destructionStopsWithoutTouchingTheDescriptor()
    {
        auto monitor = std::make_unique<SerialMonitor>(m_pipe[0]);
        QSignalSpy monitoring(monitor.get(), &SerialMonitor::isMonitoringChanged);

        monitor.reset();
        runPostedEvents();

        QCOMPARE(monitoring.count(), 1);
        QVERIFY(isOpen(m_pipe[0]));
    }

    void destructionDropsAPendingDisconnectLine()
    {
        auto monitor = std::make_unique<SerialMonitor>(m_pipe[0]);
        monitor->stopMonitoring();
        monitor.reset();
        // Would append to freed memory if the queued line outlived the monitor.
        runPostedEvents();
        QVERIFY(isOpen(m_pipe[0]));
    }

    void stopFromAnotherThread()
    {
        SerialMonitor monitor(m_pipe[0]);
        QSignalSpy ready(&monitor, &SerialMonitor::readyRead);

        std::unique_ptr<QThread> thread(QThread::create([&monitor] { monitor.stopMonitoring(); }));
        thread->start();
        QVERIFY(thread->wait(QDeadlineTimer(std::chrono::seconds(30))));

        QVERIFY(!monitor.isMonitoring());
        writeToDevice();
        runPostedEvents();
        for (int round = 0; round < 3; ++round)
            QCoreApplication::processEvents();

        QCOMPARE(monitor.serialLog(), disconnectLine);
        QCOMPARE(ready.count(), 0);
    }
};

QTEST_GUILESS_MAIN(TestSerialMonitor)
#include "tst_serialmonitor.moc"
