#include "support/FakeSysfs.h"

#include <QDir>
#include <QDirIterator>
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
    for (const QString& folder : {u"class/tty"_s, u"bus/usb"_s, u"bus/usb-serial"_s, u"bus/pci"_s,
                                  u"bus/pnp"_s, u"devices/virtual/tty"_s})
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
                  u"/bus/pci"_s, "DRIVER=xhci_hcd\nPCI_CLASS=C0330\n");
    const QString hub = addDevice(controller + u"/usb%1"_s.arg(bus), u"/bus/usb"_s,
                                  "DEVTYPE=usb_device\nDRIVER=usb\nPRODUCT=1d6b/2/601\n");
    writeFile(hub + u"/idVendor"_s, "1d6b\n");
    writeFile(hub + u"/idProduct"_s, "0002\n");
    writeFile(hub + u"/bDeviceClass"_s, "09\n");
    writeFile(hub + u"/manufacturer"_s, "Linux 6.1.0-13-amd64 xhci-hcd\n");
    writeFile(hub + u"/product"_s, "xHCI Host Controller\n");
    return hub;
}

QString FakeSysfs::addUsbDevice(const QString& hub, int port, const UsbDevice& device)
{
    const QString hubName = QFileInfo(hub).fileName();
    const QString name = hubName.startsWith(u"usb"_s)
                             ? hubName.mid(3) + u'-' + QString::number(port)
                             : hubName + u'.' + QString::number(port);
    const QString path = addDevice(hub + u'/' + name, u"/bus/usb"_s,
                                   "DEVTYPE=usb_device\nDRIVER=usb\nPRODUCT=" + device.idVendor +
                                       '/' + device.idProduct + "/100\n");
    writeFile(path + u"/idVendor"_s, device.idVendor + '\n');
    writeFile(path + u"/idProduct"_s, device.idProduct + '\n');
    writeFile(path + u"/bDeviceClass"_s, device.deviceClass + '\n');
    const auto optionalText = [&path](const char* attribute, const std::optional<QString>& text) {
        if (text)
            writeFile(path + u'/' + QLatin1StringView(attribute), text->toUtf8() + '\n');
    };
    optionalText("manufacturer", device.manufacturer);
    optionalText("product", device.product);
    if (device.deviceClass != "09") {
        const QString interface = addDevice(path + u'/' + name + u":1.0"_s, u"/bus/usb"_s,
                                            "DEVTYPE=usb_interface\nINTERFACE=255/0/0\n");
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

void FakeSysfs::unplug(const QString& device)
{
    QDirIterator links(root() + u"/class/tty"_s, QDir::System);
    while (links.hasNext()) {
        const QString link = links.next();
        if (QFileInfo(link).symLinkTarget().startsWith(device + u'/'))
            QFile::remove(link);
    }
    QDir(device).removeRecursively();
}
