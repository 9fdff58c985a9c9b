#include "serial/LinuxPortLister.h"

#include "serial/LinuxHardwareDatabase.h"

#include <QFile>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr qsizetype maximumUsbIdDigits = 4;
constexpr int hexadecimal = 16;

class FileDescriptor
{
public:
    explicit FileDescriptor(int descriptor)
        : m_descriptor(descriptor)
    {}
    ~FileDescriptor()
    {
        if (m_descriptor >= 0)
            ::close(m_descriptor);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return m_descriptor; }

private:
    int m_descriptor;
};

struct DirectoryCloser
{
    void operator()(DIR* directory) const { ::closedir(directory); }
};
using Directory = std::unique_ptr<DIR, DirectoryCloser>;

bool exists(const QByteArray& path)
{
    return ::faccessat(AT_FDCWD, path.constData(), F_OK, AT_SYMLINK_NOFOLLOW) == 0;
}

// A sysfs attribute without its trailing line breaks, as udev gives it; nothing when the file
// cannot be read.
std::optional<QByteArray> readAttribute(const QByteArray& path)
{
    const FileDescriptor file(::open(path.constData(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0)
        return std::nullopt;
    // sysfs hands out an attribute, at most a page, in one read; a short read is the end.
    std::array<char, 4096> buffer{};
    QByteArray contents;
    for (;;) {
        const ssize_t count = ::read(file.get(), buffer.data(), buffer.size());
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return std::nullopt;
        contents.append(buffer.data(), count);
        if (size_t(count) < buffer.size())
            break;
    }
    while (contents.endsWith('\n') || contents.endsWith('\r'))
        contents.chop(1);
    return contents;
}

std::optional<QString> readText(const QByteArray& device, const char* attribute)
{
    // The kernel hands USB string descriptors out as UTF-8.
    if (const std::optional<QByteArray> text = readAttribute(device + '/' + attribute))
        return QString::fromUtf8(*text);
    return std::nullopt;
}

// A USB ID attribute such as idVendor ("1a86"): one to four hexadecimal digits.
std::optional<quint16> readUsbId(const QByteArray& device, const char* attribute)
{
    const QByteArray digits =
        readAttribute(device + '/' + attribute).value_or(QByteArray()).trimmed();
    if (digits.isEmpty() || digits.size() > maximumUsbIdDigits)
        return std::nullopt;
    quint16 value = 0;
    for (const char c : digits) {
        int digit = -1;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        if (digit < 0)
            return std::nullopt;
        value = quint16(value * hexadecimal + digit);
    }
    return value;
}

std::optional<QByteArray> readLink(const QByteArray& path)
{
    std::array<char, PATH_MAX> target{};
    const ssize_t length = ::readlink(path.constData(), target.data(), target.size());
    if (length < 0 || size_t(length) == target.size())
        return std::nullopt;
    return QByteArray(target.data(), length);
}

QByteArray lastComponent(const QByteArray& path)
{
    return path.sliced(path.lastIndexOf('/') + 1);
}

// The name the device's "subsystem" link points to: "usb", "tty", "pci"; empty without one.
QByteArray subsystemOf(const QByteArray& device)
{
    return lastComponent(readLink(device + "/subsystem").value_or(QByteArray()));
}

QByteArray ueventValue(const QByteArray& device, QByteArrayView key)
{
    const std::optional<QByteArray> uevent = readAttribute(device + "/uevent");
    if (!uevent)
        return {};
    const QList<QByteArray> lines = uevent->split('\n');
    for (const QByteArray& line : lines) {
        if (line.size() > key.size() && line.startsWith(key) && line.at(key.size()) == '=')
            return line.sliced(key.size() + 1);
    }
    return {};
}

// A relative link target as sysfs writes them ("../../devices/..."), resolved against the
// folder that holds the link; this spares resolving every component of the path on the disk.
QByteArray resolveLink(QByteArray folder, const QByteArray& target)
{
    const QList<QByteArray> components = target.split('/');
    for (const QByteArray& component : components) {
        if (component == "..")
            folder.truncate(folder.lastIndexOf('/'));
        else if (!component.isEmpty() && component != ".")
            folder += '/' + component;
    }
    return folder;
}

bool isComplete(const SerialPortInfo::Fields& fields)
{
    // The product ID is left out on purpose: an adapter that names itself fully is taken as
    // found even when its product ID sits elsewhere.
    return !fields.vendor.isEmpty() && !fields.product.isEmpty() && fields.vendorID.has_value();
}

}  // namespace

LinuxPortLister::LinuxPortLister(const QString& sysfsRoot, HardwareDatabase hardwareDatabase)
    : m_root(QFile::encodeName(sysfsRoot))
    , m_hardwareDatabase(std::move(hardwareDatabase))
{
    while (m_root.endsWith('/'))
        m_root.chop(1);
}

std::optional<QList<SerialPortInfo>> LinuxPortLister::listPorts()
{
    const QByteArray classDirectory = m_root + "/class/tty";
    const Directory directory(::opendir(classDirectory.constData()));
    if (!directory)
        return std::nullopt;
    // A typical machine has some 70 virtual consoles and pseudo-terminals; only devices with a
    // parent have a "device" link, so that link is tested before anything else is read.
    QList<QByteArray> names;
    while (const dirent* entry = ::readdir(directory.get())) {
        const QByteArray name(entry->d_name);
        if (!name.startsWith('.') &&
            ::faccessat(::dirfd(directory.get()), (name + "/device").constData(), F_OK,
                        AT_SYMLINK_NOFOLLOW) == 0)
            names.append(name);
    }
    // In kernel-name order, whatever order the directory was read in.
    std::sort(names.begin(), names.end());

    QList<SerialPortInfo> ports;
    for (const QByteArray& name : std::as_const(names)) {
        if (std::optional<SerialPortInfo> port = readPort(classDirectory, name))
            ports.append(std::move(*port));
    }
    return ports;
}

std::optional<SerialPortInfo> LinuxPortLister::readPort(const QByteArray& classDirectory,
                                                        const QByteArray& ttyName) const
{
    const QByteArray entry = classDirectory + '/' + ttyName;
    const std::optional<QByteArray> target = readLink(entry);
    const QByteArray device = target ? resolveLink(classDirectory, *target) : entry;
    const QByteArray node = ueventValue(device, "DEVNAME");
    if (node.isEmpty())
        return std::nullopt;

    QByteArray name = lastComponent(device);
    name.replace('!', '/');  // sysfs cannot hold a '/' in a name and writes '!' instead
    SerialPortInfo::Fields fields{.path = QFile::decodeName("/dev/" + node),
                                  .name = QFile::decodeName(name)};
    // The serial device itself carries no USB details; they live on its ancestors. Fields found
    // nearer the device are never replaced by those of a farther one.
    std::optional<QByteArray> ancestor = parentDevice(device);
    while (ancestor) {
        std::optional<QByteArray> parent = parentDevice(*ancestor);
        mergeUsbIdentity(*ancestor, parent, fields);
        if (isComplete(fields))
            break;
        ancestor = std::move(parent);
    }
    return SerialPortInfo(std::move(fields));
}

// The nearest folder above path that is a device (holds a uevent file), inside the root.
std::optional<QByteArray> LinuxPortLister::parentDevice(QByteArray path) const
{
    for (;;) {
        const qsizetype slash = path.lastIndexOf('/');
        if (slash <= m_root.size())
            return std::nullopt;
        path.truncate(slash);
        if (exists(path + "/uevent"))
            return path;
    }
}

void LinuxPortLister::mergeUsbIdentity(const QByteArray& device,
                                       const std::optional<QByteArray>& parent,
                                       SerialPortInfo::Fields& fields) const
{
    if (subsystemOf(device) != "usb")
        return;
    const QByteArray type = ueventValue(device, "DEVTYPE");
    if (type == "usb_interface") {
        if (fields.product.isEmpty())
            fields.product = readText(device, "interface").value_or(QString());
        return;
    }
    if (type != "usb_device")
        return;

    // Hubs lend no names: the root hub standing for a host controller (the device right below a
    // non-USB parent) names the kernel's driver ("Linux 6.1.0 xhci-hcd"), an external hub its own
    // maker, never the adapter plugged into it.
    constexpr QByteArrayView hubClass = "09";
    const QByteArray deviceClass = readAttribute(device + "/bDeviceClass").value_or(QByteArray());
    const bool isHub =
        deviceClass.trimmed() == hubClass || !parent || subsystemOf(*parent) != "usb";
    const bool needsNames = !isHub && (fields.vendor.isEmpty() || fields.product.isEmpty());

    std::optional<quint16> vendorId;
    std::optional<quint16> productId;
    if (!fields.vendorID || needsNames)
        vendorId = readUsbId(device, "idVendor");
    if (!fields.productID || needsNames)
        productId = readUsbId(device, "idProduct");
    if (!fields.vendorID && vendorId)
        fields.vendorID = *vendorId;
    if (!fields.productID && productId)
        fields.productID = *productId;
    if (!needsNames)
        return;

    // A string the device reports decides even when it is empty; the database is asked only for
    // what the device leaves out, and at most once.
    std::optional<UsbNames> database;
    const auto fromDatabase = [&]() -> const UsbNames& {
        if (!database) {
            database = vendorId && productId && m_hardwareDatabase
                           ? m_hardwareDatabase(*vendorId, *productId)
                           : UsbNames{};
        }
        return *database;
    };
    if (fields.vendor.isEmpty()) {
        const std::optional<QString> manufacturer = readText(device, "manufacturer");
        fields.vendor = manufacturer ? *manufacturer : fromDatabase().vendor;
    }
    if (fields.product.isEmpty()) {
        const std::optional<QString> product = readText(device, "product");
        fields.product = product ? *product : fromDatabase().product;
    }
}

std::unique_ptr<PortLister> createPlatformPortLister()
{
    auto database = std::make_shared<const LinuxHardwareDatabase>();
    return std::make_unique<LinuxPortLister>(u"/sys"_s,
                                             [database](quint16 vendorId, quint16 productId) {
                                                 return database->usbNames(vendorId, productId);
                                             });
}
