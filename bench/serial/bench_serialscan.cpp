// Times one port scan: on this machine's registry next to QSerialPortInfo::availablePorts()
// (the baseline, measured in the same run), and on a fake registry of 64 USB adapters behind
// four levels of hubs. Prints the median of many runs.

#include "serial/SerialPortManager.h"
#include "support/FakeRegistry.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSerialPortInfo>
#include <QTextStream>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

constexpr int warmUpRuns = 20;
constexpr int realRuns = 300;
constexpr int fakeRuns = 2000;
constexpr int hubFanOut = 2;
constexpr int hubLevels = 4;
constexpr int adaptersPerHub = 4;

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

using EntryId = FakeRegistry::EntryId;

EntryId addHub(FakeRegistry& registry, std::optional<EntryId> parent)
{
    const EntryId hub = registry.addEntry(parent);
    registry.setProperty(hub, u"idVendor"_s, qint64(0x05E3));
    registry.setProperty(hub, u"idProduct"_s, qint64(0x0610));
    return hub;
}

// Serial device -> usb-serial port -> interface -> USB device -> hubs -> root hub -> controller.
// Every other adapter lacks a manufacturer string (as cheap CH340 boards do), so its walk climbs
// through every hub up to the host controller.
void addAdapter(FakeRegistry& registry, EntryId hub, const QString& ttyName, bool named)
{
    const EntryId usbDevice = registry.addEntry(hub);
    if (named)
        registry.setProperty(usbDevice, u"USB Vendor Name"_s, u"Silicon Labs"_s);
    registry.setProperty(usbDevice, u"USB Product Name"_s,
                         named ? u"CP2102 USB to UART Bridge Controller"_s : u"USB Serial"_s);
    registry.setProperty(usbDevice, u"idVendor"_s, qint64(named ? 0x10C4 : 0x1A86));
    registry.setProperty(usbDevice, u"idProduct"_s, qint64(named ? 0xEA60 : 0x7523));
    const EntryId usbInterface = registry.addEntry(usbDevice);
    registry.setProperty(usbInterface, u"Product Name"_s, u"Serial Interface"_s);
    const EntryId portEntry = registry.addEntry(usbInterface);
    const EntryId device = registry.addEntry(portEntry);
    registry.setProperty(device, u"IOCalloutDevice"_s, u"/dev/"_s + ttyName);
    registry.setProperty(device, u"IOTTYDevice"_s, ttyName);
    registry.addSerialDevice(device);
}

std::unique_ptr<FakeRegistry> makeFakeRegistry()
{
    auto registry = std::make_unique<FakeRegistry>();
    registry->setRecordingReads(false);
    const EntryId controller = registry->addEntry();
    const EntryId rootHub = addHub(*registry, controller);
    QList<EntryId> hubs{rootHub};
    for (int level = 0; level < hubLevels; ++level) {
        QList<EntryId> next;
        for (const EntryId parent : std::as_const(hubs)) {
            for (int child = 0; child < hubFanOut; ++child)
                next.append(addHub(*registry, parent));
        }
        hubs = next;
    }
    // Enumerated in an order the sort has to undo.
    int number = int(hubs.size()) * adaptersPerHub;
    for (const EntryId hub : std::as_const(hubs)) {
        for (int slot = 0; slot < adaptersPerHub; ++slot) {
            --number;
            addAdapter(*registry, hub, u"ttyUSB%1"_s.arg(number), number % 2 == 0);
        }
    }
    return registry;
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

    auto fakeRegistry = makeFakeRegistry();
    const SerialPortManager fake(std::move(fakeRegistry), u"/nonexistent"_s);
    const Timing fake64 = timeMedian(fakeRuns, [&fake] { return fake.scanPorts().size(); });

    out << "One scanPorts(), median:\n";
    out << u"  real registry      %1 us (%2 ports listed)\n"_s
               .arg(ours.medianMicroseconds, 0, 'f', 1)
               .arg(ours.resultSize);
    out << u"  QSerialPortInfo    %1 us (%2 ports)  [baseline]\n"_s
               .arg(baseline.medianMicroseconds, 0, 'f', 1)
               .arg(baseline.resultSize);
    out << u"  ratio              %1 x the baseline (goal: at most 1)\n"_s.arg(
        ours.medianMicroseconds / baseline.medianMicroseconds, 0, 'f', 2);
    out << u"  fake, 64 adapters  %1 us (%2 ports listed; goal: under 1000 us)\n"_s
               .arg(fake64.medianMicroseconds, 0, 'f', 1)
               .arg(fake64.resultSize);
    return 0;
}
