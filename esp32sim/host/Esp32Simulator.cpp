#include "esp32sim/host/Esp32Simulator.h"

#include "esp32sim/faults/BootBanner.h"
#include "esp32sim/host/LineSpeed.h"

#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <chrono>
#include <sys/file.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace esp32sim {

namespace {

constexpr qsizetype readChunk = qsizetype(64) * 1024;
constexpr qint64 nanosecondsPerMillisecond = 1'000'000;
// QTimer counts whole milliseconds. Waking at the nearest one and sending what is due within
// half a millisecond keeps the error per reply centred on zero; always rounding up would add
// half a millisecond to every exchange of a flash that has thousands of them.
constexpr qint64 dueTolerance = nanosecondsPerMillisecond / 2;

// A board that resets when its port is opened starts printing only once its reset circuit has
// let go and the ROM is running, well after the client's open() has returned. Sent at the very
// moment of the open, the banner would land while the client is still setting the port up, and
// a client that empties the input queue at the end of that (Qt 6.8's QSerialPort::open() does;
// 6.4's did not) would never see it.
constexpr std::chrono::milliseconds openToBanner{100};

}  // namespace

Esp32Simulator::Esp32Simulator(const SimulatorOptions& options, QObject* parent)
    : QObject(parent)
    , m_options(options)
    , m_loader(options)
    , m_timer(new QTimer(this))
    , m_watchdog(new QTimer(this))
{
    m_timer->setSingleShot(true);
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, &Esp32Simulator::sendDue);
    m_watchdog->setInterval(
        std::chrono::duration_cast<std::chrono::milliseconds>(rtcWatchdogPeriod));
    connect(m_watchdog, &QTimer::timeout, this, &Esp32Simulator::watchdogReset);
    connect(&m_openWatch, &PortOpenWatch::opened, this, &Esp32Simulator::clientOpened);
}

// The stable path goes with the simulator, as a udev link goes with its device.
Esp32Simulator::~Esp32Simulator()
{
    if (!m_options.linkPath.isEmpty() && m_pty.isOpen())
        QFile::remove(m_options.linkPath);
}

bool Esp32Simulator::open(QString* error)
{
    m_clock.start();
    return openLink(error);
}

bool Esp32Simulator::openLink(QString* error)
{
    if (!m_pty.open(error))
        return false;
    m_readNotifier = std::make_unique<QSocketNotifier>(m_pty.masterFd(), QSocketNotifier::Read);
    connect(m_readNotifier.get(), &QSocketNotifier::activated, this, &Esp32Simulator::readMaster);
    m_writeNotifier = std::make_unique<QSocketNotifier>(m_pty.masterFd(), QSocketNotifier::Write);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier.get(), &QSocketNotifier::activated, this, &Esp32Simulator::flushOutput);
    if (!m_openWatch.watch(m_pty.clientPath())) {
        if (error)
            *error = u"cannot watch %1 for clients"_s.arg(m_pty.clientPath());
        return false;
    }
    if (!m_options.linkPath.isEmpty()) {
        QFile::remove(m_options.linkPath);
        if (!QFile::link(m_pty.clientPath(), m_options.linkPath)) {
            if (error)
                *error = u"cannot make the link %1"_s.arg(m_options.linkPath);
            return false;
        }
    }
    return true;
}

bool Esp32Simulator::canReadLineBaud() const
{
    return clientLineBaud(m_pty.clientFd()).has_value();
}

QString Esp32Simulator::portPath() const
{
    return m_options.linkPath.isEmpty() ? m_pty.clientPath() : m_options.linkPath;
}

void Esp32Simulator::bringBack()
{
    if (!openLink(nullptr))
        return;
    m_loader.powerCycle();
    if (const auto busy = m_options.faults.busyAfterReturn) {
        // Held the way udev helpers and modem managers hold a fresh node for a moment.
        const int client = m_pty.clientFd();
        ::flock(client, LOCK_EX);
        QTimer::singleShot(*busy, this, [this, client] {
            if (m_pty.clientFd() == client)
                ::flock(client, LOCK_UN);
        });
    }
}

void Esp32Simulator::clientOpened()
{
    // The reset loses whatever the chip had not sent yet.
    m_loader.clientOpened();
    dropQueuedOutput();
    if (m_options.faults.bootFromFlash)
        QTimer::singleShot(openToBanner, this, &Esp32Simulator::printFirmwareBanner);
    flushOutput();
}

void Esp32Simulator::printFirmwareBanner()
{
    if (!m_pty.isOpen())
        return;  // the link dropped meanwhile: a board that is gone prints nothing
    m_output.append(firmwareBootBanner());
    flushOutput();
}

void Esp32Simulator::dropQueuedOutput()
{
    m_timer->stop();
    m_pending.clear();
    m_output.clear();
    m_lastDueNs = 0;
}

void Esp32Simulator::hangUp()
{
    const bool wasUp = m_pty.isOpen();
    m_readNotifier.reset();
    m_writeNotifier.reset();
    dropQueuedOutput();
    m_pty.close();
    if (!m_options.linkPath.isEmpty())
        QFile::remove(m_options.linkPath);
    if (!wasUp)
        return;
    if (const auto after = m_options.faults.returnAfter)
        QTimer::singleShot(*after, this, &Esp32Simulator::bringBack);
}

void Esp32Simulator::readMaster()
{
    QByteArray buffer(readChunk, Qt::Uninitialized);
    for (;;) {
        const ssize_t n = ::read(m_pty.masterFd(), buffer.data(), std::size_t(buffer.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;  // EAGAIN: drained. The client side is held open here, so no EIO in between.
        if (m_openWatch.takeOpened())
            clientOpened();
        const qint64 arrival = m_clock.nsecsElapsed();
        const RomLoader::FeedResult result =
            m_loader.feed(QByteArrayView(buffer.constData(), n), clientLineBaud(m_pty.clientFd()));
        if (result.restarted) {
            dropQueuedOutput();
            schedulePrinted(result.printed, arrival);
            if (m_loader.state() == LoaderState::failedBootLoop)
                m_watchdog->start();
        }
        schedule(result, arrival);
        sendDue();
        if (result.hangUp)
            hangUp();
        if (!m_pty.isOpen())
            return;
    }
}

void Esp32Simulator::schedule(const RomLoader::FeedResult& result, qint64 arrivalNs)
{
    for (const RomLoader::Answer& answer : result.answers) {
        // The chip serves one request at a time: a request that arrives while replies are
        // still going out waits for them.
        qint64 due = 0;
        if (m_options.timing) {
            due = std::max(arrivalNs, m_lastDueNs) + answer.requestWireTime.count() +
                  answer.workTime.count();
        }
        for (const RomLoader::OutgoingFrame& frame : answer.frames) {
            if (m_options.timing)
                due += frame.wireTime.count();
            m_pending.append({due, frame.bytes});
        }
        m_lastDueNs = std::max(m_lastDueNs, due);
    }
}

void Esp32Simulator::schedulePrinted(const QByteArray& bytes, qint64 fromNs)
{
    // Printed text takes its time on the wire at the ROM's 115200 like any reply.
    qint64 due = 0;
    if (m_options.timing)
        due = std::max(fromNs, m_lastDueNs) + wireTime(bytes.size(), initialBaud).count();
    m_pending.append({due, bytes});
    m_lastDueNs = std::max(m_lastDueNs, due);
}

void Esp32Simulator::watchdogReset()
{
    // A host that does not read loses what the chip keeps printing, as a UART overruns.
    if (!m_pty.isOpen() || !m_output.isEmpty())
        return;
    schedulePrinted(m_loader.watchdogReset(clientLineBaud(m_pty.clientFd())),
                    m_clock.nsecsElapsed());
    sendDue();
}

void Esp32Simulator::sendDue()
{
    const qint64 now = m_clock.nsecsElapsed();
    while (!m_pending.isEmpty() && m_pending.constFirst().dueNs <= now + dueTolerance)
        m_output.append(m_pending.takeFirst().bytes);
    flushOutput();
    armTimer();
}

void Esp32Simulator::flushOutput()
{
    while (!m_output.isEmpty() && m_pty.isOpen()) {
        const ssize_t n =
            ::write(m_pty.masterFd(), m_output.constData(), std::size_t(m_output.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;  // the client is not reading: the pty buffer is full
        m_output.remove(0, qsizetype(n));
    }
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(!m_output.isEmpty());
}

void Esp32Simulator::armTimer()
{
    if (m_pending.isEmpty()) {
        m_timer->stop();
        return;
    }
    const qint64 wait = m_pending.constFirst().dueNs - m_clock.nsecsElapsed();
    m_timer->start(int(std::max<qint64>(0, (wait + dueTolerance) / nanosecondsPerMillisecond)));
}

}  // namespace esp32sim
