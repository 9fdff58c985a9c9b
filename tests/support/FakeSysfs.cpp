#include "support/FakeSysfs.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

void writeFile(const QString& path, const QByteArray& contents)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size())
        qFatal("FakeSysfs: cannot write %s", qPrintable(path));
}

// sysfs links are relative: "../../devices/...".
void link(const QString& target, const QString& linkPath)
{
    const QString relative = QFileInfo(linkPath).dir().relativeFilePath(target);
    if (::symlink(QFile::encodeName(relative).constData(), QFile::encodeName(linkPath).constData()))
        qFatal("FakeSysfs: cannot link %s", qPrintable(linkPath));
}

}  // namespace

FakeSysfs::FakeSysfs()
{
    for (const QString& folder :
         {u"class/tty"_s, u"bus/usb/devices"_s, u"bus/usb/drivers"_s, u"bus/usb-serial"_s,
          u"bus/pci"_s, u"bus/pnp"_s, u"devices/virtual/tty"_s})
        QDir(root()).mkpath(folder);
}

QString FakeSysfs::addDevice(const QString& path, const QString& subsystem,
                             const QByteArray& uevent)
{
    QDir().mkpath(path);
    writeFile(path + u"/uevent"_s, uevent);
    if (!subsystem.isEmpty())
        link(root() + subsystem, path + u"/subsystem"_s);
    return path;
}

QString FakeSysfs::addRootHub(int bus)
{
    const QString controller =
        addDevice(root() + u"/devices/pci0000:00/0000:00:%1.0"_s.arg(bus, 2, 10, QChar(u'0')),
                  u"/bus/pci"_s, "DRIVER=xhci_hcd\n");
    return addUsbDevice(controller + u"/usb"_s + QString::number(bus),
                        {"1d6b", "0002", u"Linux 6.1.0-13-amd64 xhci-hcd"_s,
                         u"xHCI Host Controller"_s, std::nullopt, "09"});
}

QString FakeSysfs::addUsbDevice(const QString& hub, int port, const UsbDevice& device)
{
    const QString hubName = QFileInfo(hub).fileName();
    return addUsbDevice(
        hub + u'/' + (hubName.startsWith(u"usb"_s) ? hubName.mid(3) + u'-' : hubName + u'.') +
            QString::number(port),
        device);
}

QString FakeSysfs::addUsbDevice(const QString& path, const UsbDevice& device)
{
    addDevice(path, u"/bus/usb"_s, "DEVTYPE=usb_device\nDRIVER=usb\n");
    link(path, root() + u"/bus/usb/devices/"_s + QFileInfo(path).fileName());
    const auto write = [&path](const char* name, const QByteArray& value) {
        writeFile(path + u'/' + QLatin1StringView(name), value + '\n');
    };
    write("idVendor", device.idVendor);
    write("idProduct", device.idProduct);
    write("bDeviceClass", device.deviceClass);
    if (device.manufacturer)
        write("manufacturer", device.manufacturer->toUtf8());
    if (device.product)
        write("product", device.product->toUtf8());
    if (device.deviceClass != "09") {
        const QString interface = path + u'/' + QFileInfo(path).fileName() + u":1.0"_s;
        addDevice(interface, u"/bus/usb"_s, "DEVTYPE=usb_interface\n");
        link(interface, root() + u"/bus/usb/devices/"_s + QFileInfo(interface).fileName());
        writeFile(interface + u"/bInterfaceClass"_s, device.interfaceClass + '\n');
        writeFile(interface + u"/bInterfaceSubClass"_s, device.interfaceSubClass + '\n');
        if (device.interface)
            writeFile(interface + u"/interface"_s, device.interface->toUtf8() + '\n');
    }
    return path;
}

void FakeSysfs::addUsbSerial(const QString& usbDevice, const QString& ttyName)
{
    const QString interface = usbDevice + u'/' + QFileInfo(usbDevice).fileName() + u":1.0"_s;
    if (ttyName.startsWith(u"ttyACM"_s)) {
        addTty(interface, interface + u"/tty"_s, ttyName);
        return;
    }
    const QString port = addDevice(interface + u'/' + ttyName, u"/bus/usb-serial"_s, "");
    addTty(port, port + u"/tty"_s, ttyName);
}

void FakeSysfs::bindInterface(const QString& usbDevice, const QString& driver)
{
    const QString interface = usbDevice + u'/' + QFileInfo(usbDevice).fileName() + u":1.0"_s;
    const QString folder = root() + u"/bus/usb/drivers/"_s + driver;
    QDir().mkpath(folder);
    link(folder, interface + u"/driver"_s);
    writeFile(interface + u"/uevent"_s, "DEVTYPE=usb_interface\nDRIVER=" + driver.toUtf8() + '\n');
}

void FakeSysfs::addBoardSerial(const QString& ttyName)
{
    const QString parent = addDevice(root() + u"/devices/pnp0/00:0"_s + QString::number(m_ttyMinor),
                                     u"/bus/pnp"_s, "");
    addTty(parent, parent + u"/tty"_s, ttyName);
}

void FakeSysfs::addVirtualTty(const QString& ttyName)
{
    addTty({}, root() + u"/devices/virtual/tty"_s, ttyName);
}

void FakeSysfs::addTty(const QString& parent, const QString& folder, const QString& ttyName)
{
    const QString path = addDevice(folder + u'/' + ttyName, u"/class/tty"_s,
                                   "MAJOR=188\nMINOR=" + QByteArray::number(m_ttyMinor++) +
                                       "\nDEVNAME=" + ttyName.toUtf8() + '\n');
    if (!parent.isEmpty())
        link(parent, path + u"/device"_s);
    link(path, root() + u"/class/tty/"_s + ttyName);
}
