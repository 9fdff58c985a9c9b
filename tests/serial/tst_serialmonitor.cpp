#include "serial/SerialMonitor.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <fcntl.h>
#include <functional>
#include <memory>
#include <unistd.h>

using namespace Qt::StringLiterals;

using tavix::SerialMonitor;
// Something done to a monitor before the step under test.
using Step = std::function<void(SerialMonitor&)>;
Q_DECLARE_METATYPE(Step)

namespace {

const QString disconnectLine = u"\n--- 串口已断开 ---\n"_s;

// Runs the queued calls (the disconnect line among them) and pending deletions, once.
void runPostedEvents()
{
    QCoreApplication::sendPostedEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

}  // namespace

class TestSerialMonitor : public QObject
{
    Q_OBJECT

    // A pipe stands in for the serial device: its read end becomes readable on a write.
    int m_pipe[2] = {-1, -1};

    bool deviceIsOpen() const { return ::fcntl(m_pipe[0], F_GETFD) != -1; }

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

    void anIdleMonitorHasNothingToStop()
    {
        SerialMonitor monitor;
        QSignalSpy changes(&monitor, &SerialMonitor::isMonitoringChanged);
        monitor.stopMonitoring();
        runPostedEvents();
        QVERIFY(!monitor.isMonitoring());
        QCOMPARE(monitor.fileDescriptor(), -1);
        QCOMPARE(monitor.property("serialLog").toString(), QString());
        QCOMPARE(changes.count(), 0);
    }

    // The read source stops at once; the disconnect line comes after the call has returned,
    // once however often stop is called; the descriptor stays its owner's to close.
    void stopsOnceAndSaysSoAfterwards()
    {
        SerialMonitor monitor(m_pipe[0]);
        QVERIFY(monitor.property("isMonitoring").toBool());
        QSignalSpy changes(&monitor, &SerialMonitor::isMonitoringChanged);
        QSignalSpy log(&monitor, &SerialMonitor::serialLogChanged);
        QSignalSpy ready(&monitor, &SerialMonitor::readyRead);
        QCOMPARE(::write(m_pipe[1], "x", 1), ssize_t(1));
        QTRY_VERIFY(ready.count() > 0);

        monitor.stopMonitoring();
        monitor.stopMonitoring();
        QVERIFY(!monitor.isMonitoring());
        QCOMPARE(changes.count(), 1);
        QCOMPARE(log.count(), 0);
        ready.clear();
        // The unread byte keeps the descriptor readable: a live notifier would fire at once.
        for (int round = 0; round < 3; ++round)
            QCoreApplication::processEvents();
        monitor.stopMonitoring();
        runPostedEvents();

        QCOMPARE(ready.count(), 0);
        QCOMPARE(monitor.property("serialLog").toString(), disconnectLine);
        QCOMPARE(log.count(), 1);
        QVERIFY(deviceIsOpen());
    }

    void stopsFromAnotherThread()
    {
        SerialMonitor monitor(m_pipe[0]);
        QSignalSpy ready(&monitor, &SerialMonitor::readyRead);
        std::unique_ptr<QThread> thread(QThread::create([&monitor] { monitor.stopMonitoring(); }));
        thread->start();
        QVERIFY(thread->wait(QDeadlineTimer(std::chrono::seconds(30))));
        QVERIFY(!monitor.isMonitoring());

        QCOMPARE(::write(m_pipe[1], "x", 1), ssize_t(1));
        runPostedEvents();
        for (int round = 0; round < 3; ++round)
            QCoreApplication::processEvents();
        QCOMPARE(monitor.serialLog(), disconnectLine);
        QCOMPARE(ready.count(), 0);
    }

    // Stopped without the disconnect line, a pending one included: nobody is left to read it.
    void destructionStopsWithoutTouchingTheDescriptor_data()
    {
        QTest::addColumn<Step>("before");
        QTest::newRow("monitoring") << Step([](SerialMonitor&) {});
        QTest::newRow("stopped, line pending")
            << Step([](SerialMonitor& monitor) { monitor.stopMonitoring(); });
    }
    void destructionStopsWithoutTouchingTheDescriptor()
    {
        QFETCH(Step, before);
        auto monitor = std::make_unique<SerialMonitor>(m_pipe[0]);
        QSignalSpy changes(monitor.get(), &SerialMonitor::isMonitoringChanged);
        before(*monitor);
        monitor.reset();
        runPostedEvents();  // would append to freed memory if the line outlived the monitor
        QCOMPARE(changes.count(), 1);
        QVERIFY(deviceIsOpen());
    }
};

QTEST_GUILESS_MAIN(TestSerialMonitor)
#include "tst_serialmonitor.moc"
