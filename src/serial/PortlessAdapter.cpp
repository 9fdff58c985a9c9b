#include "serial/PortlessAdapter.h"

#include <QStringList>

using namespace Qt::StringLiterals;

namespace tavix {

namespace {

// What a user of this Linux would type to learn the device's ID: lsusb prints "1a86:7523".
QString usbId(quint16 vendorId, quint16 productId)
{
    return u"%1:%2"_s.arg(vendorId, 4, 16, QChar(u'0')).arg(productId, 4, 16, QChar(u'0'));
}

// usbfs is what the kernel names the driver of an interface that a program claimed through
// /dev/bus/usb, as every libusb program does.
constexpr QStringView usbfs = u"usbfs";

QString whyAndWhatToDo(const PortlessAdapter& adapter)
{
    if (adapter.claimedBy == u"brltty"_s) {
        // Ubuntu's brltty rules take the CH340's ID for a braille display's; its udev rule
        // starts brltty on plug-in, which detaches the serial driver.
        const QString rule =
            adapter.serviceRule.isEmpty() ? u"85-brltty.rules"_s : adapter.serviceRule;
        return u"brltty, the braille display service, has taken it, as it takes CH340 and "
               "CH341 adapters on Ubuntu. If you use no braille display, remove brltty (sudo apt "
               "remove brltty) or disable its udev rule (sudo ln -s /dev/null "
               "/etc/udev/rules.d/%1), then unplug the board and plug it in again."_s.arg(rule);
    }
    if (adapter.boundDriver == usbfs) {
        return u"A program has claimed it through usbfs, as programs using libusb do, so the "
               "driver %1 cannot make its port. Close that program, then unplug the board and "
               "plug it in again."_s.arg(adapter.expectedDriver);
    }
    if (!adapter.boundDriver.isEmpty()) {
        return u"The driver %1 has its interface %2 instead of %3. Hand it over to %3 (echo %2 | "
               "sudo tee /sys/bus/usb/drivers/%1/unbind /sys/bus/usb/drivers/%3/bind)."_s.arg(
                   adapter.boundDriver, adapter.interfaceName, adapter.expectedDriver);
    }
    return u"No driver has taken it: it needs the kernel module %1. Load it (sudo modprobe %1); "
           "if your kernel has no such module, install its extra modules (on Ubuntu, "
           "linux-modules-extra-$(uname -r)) and plug the board in again."_s.arg(
               adapter.expectedDriver);
}

}  // namespace

QString PortlessAdapter::identity() const
{
    return location + u' ' + usbId(vendorId, productId);
}

QString PortlessAdapter::hint() const
{
    QString name = QStringList{vendor, product}.join(u' ').trimmed();
    if (name.isEmpty())
        name = u"A USB serial adapter"_s;
    // The adapter on a line of its own, what to do below it.
    return u"%1 (ID %2, USB %3) is plugged in but has no serial port.\n"_s.arg(
               name, usbId(vendorId, productId), location) +
           whyAndWhatToDo(*this);
}

QString portlessAdaptersHint(const QList<PortlessAdapter>& adapters)
{
    QStringList paragraphs;
    for (const PortlessAdapter& adapter : adapters)
        paragraphs.append(adapter.hint());
    return paragraphs.join(u"\n\n"_s);
}

}  // namespace tavix
