#pragma once

#include "esp32sim/chip/RomLoader.h"
#include "esp32sim/chip/SimulatorOptions.h"
#include "esp32sim/host/PortOpenWatch.h"
#include "esp32sim/host/PseudoTerminal.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>

#include <memory>

class QSocketNotifier;
class QTimer;

namespace esp32sim {

// A simulated ESP32 ROM loader on a pseudo-terminal, driven by the caller's Qt event loop.
//
// In a test:
//     esp32sim::SimulatorOptions options;
//     options.flashSize = 4 * 1024 * 1024;
//     esp32sim::Esp32Simulator chip(options);
//     QString error;
//     QVERIFY2(chip.open(&error), qPrintable(error));
//     // give chip.portPath() to the client as its port, run the client on this event loop
//     // (QProcess + QSignalSpy / QTRY_*), then look at the chip:
//     QCOMPARE(chip.flash().contents().mid(0x1000, image.size()), image);
//     QCOMPARE(chip.loader().baud(), 921600U);
//
// Reads are served from a QSocketNotifier on the pty master; with SimulatorOptions::timing
// each reply is held back by a QTimer until the modelled time of the exchange has passed
// since the request arrived. Nothing blocks, so the simulator and a client can share one
// thread's event loop.
class Esp32Simulator : public QObject
{
    Q_OBJECT

public:
    explicit Esp32Simulator(const SimulatorOptions& options, QObject* parent = nullptr);
    ~Esp32Simulator() override;

    // Opens the pseudo-terminal and starts listening. False with a message on failure.
    bool open(QString* error);
    // What the client opens: SimulatorOptions::linkPath, or without one the pty's own path
    // (e.g. /dev/pts/5).
    QString portPath() const;
    // Whether the rate a client sets on the pty can be read here, as
    // SimulatorOptions::checkLineBaud needs; false under qemu-user 7.2 (no TCGETS2).
    bool canReadLineBaud() const;
    const RomLoader& loader() const { return m_loader; }
    const FlashMemory& flash() const { return m_loader.flash(); }
    const SimulatorStatistics& statistics() const { return m_loader.statistics(); }

private:
    struct Pending
    {
        qint64 dueNs = 0;  // on m_clock
        QByteArray bytes;
    };

    bool openLink(QString* error);
    // Drops the link now: pending replies are discarded and the client sees a hangup. With
    // FaultOptions::returnAfter the link comes back later at the same port path.
    void hangUp();
    void bringBack();
    void clientOpened();
    void printFirmwareBanner();
    void dropQueuedOutput();
    void schedulePrinted(const QByteArray& bytes, qint64 fromNs);
    void watchdogReset();
    void readMaster();
    void schedule(const RomLoader::FeedResult& result, qint64 arrivalNs);
    void sendDue();
    void flushOutput();
    void armTimer();

    SimulatorOptions m_options;
    RomLoader m_loader;
    PseudoTerminal m_pty;
    std::unique_ptr<QSocketNotifier> m_readNotifier;
    std::unique_ptr<QSocketNotifier> m_writeNotifier;
    QTimer* m_timer = nullptr;
    QTimer* m_watchdog = nullptr;  // the boot loop's resets
    PortOpenWatch m_openWatch;
    QElapsedTimer m_clock;
    QList<Pending> m_pending;
    QByteArray m_output;
    qint64 m_lastDueNs = 0;
};

}  // namespace esp32sim
