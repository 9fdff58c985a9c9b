// Times one port scan: on this machine's sysfs next to QSerialPortInfo::availablePorts() (the
// baseline, measured in the same run), and on a fake sysfs tree of 64 USB adapters behind four
// levels of hubs; the search for adapters without a port on both; and the delay from a device
// event on the watch's descriptor to the manager's signal that asks for a refresh. Prints the
// median of many runs.

#include "serial/LinuxPortLister.h"
#include "serial/LinuxPortWatch.h"
#include "serial/SerialPortManager.h"
#include "support/FakeDeviceEvents.h"
#include "support/FakeSysfs.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSerialPortInfo>
#include <QTextStream>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

using namespace Qt::StringLiterals;

using tavix::LinuxPortLister;
using tavix::LinuxPortWatch;
using tavix::PortLister;
using tavix::PortWatch;
using tavix::SerialPortInfo;
using tavix::SerialPortManager;
using tavix::UsbNames;

namespace {

constexpr int warmUpRuns = 20;
constexpr int realRuns = 300;
constexpr int fakeRuns = 300;
constexpr int hubFanOut = 2;
constexpr int hubLevels = 4;
constexpr int adaptersPerHub = 4;
constexpr int virtualTtys = 64;
constexpr int hotplugRuns = 20;

struct Timing
{
    double medianMicroseconds = 0;
    qsizetype resultSize = 0;
};

Timing timeMedian(int runs, const std::function<qsizetype()>& work)
{
    qsizetype size = 0;
    for (int run = 0; run < warmUpRuns; ++run)
        size = work();
    std::vector<qint64> nanoseconds;
    nanoseconds.reserve(size_t(runs));
    QElapsedTimer timer;
    for (int run = 0; run < runs; ++run) {
        timer.start();
        size = work();
        nanoseconds.push_back(timer.nsecsElapsed());
    }
    std::nth_element(nanoseconds.begin(), nanoseconds.begin() + runs / 2, nanoseconds.end());
    return {double(nanoseconds[size_t(runs / 2)]) / 1000.0, size};
}

// Every other adapter lacks a manufacturer string (as cheap CH340 boards do), so its walk climbs
// through every hub up to the root hub.
void addAdapter(FakeSysfs& sysfs, const QString& hub, int port, int number)
{
    const bool named = number % 2 == 0;
    const QString device =
        named ? sysfs.addUsbDevice(hub, port,
                                   {"10c4", "ea60", u"Silicon Labs"_s,
                                    u"CP2102 USB to UART Bridge Controller"_s,
                                    u"CP2102 USB to UART Bridge Controller"_s})
              : sysfs.addUsbDevice(hub, port, {"1a86", "7523", std::nullopt, u"USB Serial"_s});
    sysfs.addUsbSerial(device, u"ttyUSB%1"_s.arg(number));
}

void addAdapters(FakeSysfs& sysfs)
{
    const FakeSysfs::UsbDevice hub{"05e3",          "0610",       u"GenesysLogic"_s,
                                   u"USB2.0 Hub"_s, std::nullopt, "09"};
    QStringList hubs{sysfs.addRootHub(1)};
    for (int level = 0; level < hubLevels; ++level) {
        QStringList next;
        for (const QString& parent : std::as_const(hubs)) {
            for (int port = 1; port <= hubFanOut; ++port)
                next.append(sysfs.addUsbDevice(parent, port, hub));
        }
        hubs = next;
    }
    // Numbered against the order of the tree, so that the sort has work to do.
    int number = int(hubs.size()) * adaptersPerHub;
    for (const QString& parent : std::as_const(hubs)) {
        for (int port = 1; port <= adaptersPerHub; ++port)
            addAdapter(sysfs, parent, port, --number);
    }
    // The virtual consoles and pseudo-terminals of a typical machine.
    for (int console = 0; console < virtualTtys; ++console)
        sysfs.addVirtualTty(u"tty%1"_s.arg(console));
}

// The fake tree's ports, and device events that the benchmark sends through a pipe.
class PipedLister final : public PortLister
{
public:
    explicit PipedLister(const QString& sysfsRoot)
        : m_lister(sysfsRoot, [](quint16, quint16) { return UsbNames(); })
    {}
    std::optional<QList<SerialPortInfo>> listPorts() override { return m_lister.listPorts(); }
    std::unique_ptr<PortWatch> watchPorts() override
    {
        auto source = std::make_unique<FakeDeviceEvents>();
        events = source.get();
        return std::make_unique<LinuxPortWatch>(std::move(source));
    }

    FakeDeviceEvents* events = nullptr;

private:
    LinuxPortLister m_lister;
};

// From an "add tty" written to the watch's descriptor to the manager's systemDevicesChanged().
Timing timeHotplug(const QString& sysfsRoot)
{
    auto lister = std::make_unique<PipedLister>(sysfsRoot);
    PipedLister& piped = *lister;
    SerialPortManager manager(std::move(lister), u"/nonexistent"_s);
    std::vector<qint64> nanoseconds;
    QElapsedTimer timer;
    for (int run = 0; run < hotplugRuns; ++run) {
        QEventLoop loop;
        const QMetaObject::Connection done = QObject::connect(
            &manager, &SerialPortManager::systemDevicesChanged, &loop, &QEventLoop::quit);
        timer.start();
        piped.events->send("add", "tty");
        loop.exec();
        nanoseconds.push_back(timer.nsecsElapsed());
        QObject::disconnect(done);
    }
    std::nth_element(nanoseconds.begin(), nanoseconds.begin() + hotplugRuns / 2, nanoseconds.end());
    return {double(nanoseconds[size_t(hotplugRuns / 2)]) / 1000.0, hotplugRuns};
}

}  // namespace

int main(int argc, char* argv[])
{
    const QCoreApplication app(argc, argv);
    QTextStream out(stdout);

    SerialPortManager real;
    const Timing ours = timeMedian(realRuns, [&real] { return real.scanPorts().size(); });
    const Timing baseline =
        timeMedian(realRuns, [] { return QSerialPortInfo::availablePorts().size(); });

    FakeSysfs sysfs;
    addAdapters(sysfs);
    const SerialPortManager fake(std::make_unique<LinuxPortLister>(
                                     sysfs.root(), [](quint16, quint16) { return UsbNames(); }),
                                 u"/nonexistent"_s);
    const Timing fake64 = timeMedian(fakeRuns, [&fake] { return fake.scanPorts().size(); });
    const std::unique_ptr<PortLister> machine = tavix::createPlatformPortLister();
    const Timing portless =
        timeMedian(realRuns, [&machine] { return machine->listPortlessAdapters().size(); });
    LinuxPortLister fakeLister(sysfs.root(), [](quint16, quint16) { return UsbNames(); });
    const Timing portless64 =
        timeMedian(fakeRuns, [&fakeLister] { return fakeLister.listPortlessAdapters().size(); });
    const Timing hotplug = timeHotplug(sysfs.root());

    out << "One scanPorts(), median:\n";
    out << u"  this machine       %1 us (%2 ports listed)\n"_s
               .arg(ours.medianMicroseconds, 0, 'f', 1)
               .arg(ours.resultSize);
    out << u"  QSerialPortInfo    %1 us (%2 ports)  [baseline]\n"_s
               .arg(baseline.medianMicroseconds, 0, 'f', 1)
               .arg(baseline.resultSize);
    out << u"  ratio              %1 x the baseline (goal: at most 1)\n"_s.arg(
        ours.medianMicroseconds / baseline.medianMicroseconds, 0, 'f', 3);
    // The scan runs on the main thread every 2 s: even an absurd number of adapters must not
    // cost a frame. The tree lives wherever TMPDIR is (tmpfs comes closest to sysfs).
    out << u"  fake, 64 adapters  %1 us (%2 ports listed; goal: under 16000 us, one frame)\n"_s
               .arg(fake64.medianMicroseconds, 0, 'f', 1)
               .arg(fake64.resultSize);
    // Every refresh also looks for adapters without a port, through every USB device.
    out << "One search for adapters without a port, median:\n";
    out << u"  this machine       %1 us (%2 found)\n"_s.arg(portless.medianMicroseconds, 0, 'f', 1)
               .arg(portless.resultSize);
    out << u"  fake, 64 adapters  %1 us (%2 found; goal: under a scan's time)\n"_s
               .arg(portless64.medianMicroseconds, 0, 'f', 1)
               .arg(portless64.resultSize);
    out << u"From a device event to the refresh it asks for, median of %1: %2 ms (the %3 ms that "
           "gather a burst, then the event loop; goal: under 2000 ms, the timer's)\n"_s
               .arg(hotplug.resultSize)
               .arg(hotplug.medianMicroseconds / 1000.0, 0, 'f', 1)
               .arg(SerialPortManager::hotplugCoalescing.count());
    return 0;
}
