#include "serial/LinuxSysfs.h"

#include <QList>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace tavix::sysfs {

namespace {

constexpr qsizetype maximumHexDigits = 4;
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

}  // namespace

bool exists(const QByteArray& path)
{
    return ::faccessat(AT_FDCWD, path.constData(), F_OK, AT_SYMLINK_NOFOLLOW) == 0;
}

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
    if (const std::optional<QByteArray> text = readAttribute(device + '/' + attribute))
        return QString::fromUtf8(*text);
    return std::nullopt;
}

std::optional<quint16> readHexNumber(const QByteArray& device, const char* attribute)
{
    const QByteArray digits =
        readAttribute(device + '/' + attribute).value_or(QByteArray()).trimmed();
    if (digits.isEmpty() || digits.size() > maximumHexDigits)
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

QByteArray resolveLink(QByteArray folder, const QByteArray& target)
{
    // Resolved by name: this spares resolving every component of the path on the disk.
    const QList<QByteArray> components = target.split('/');
    for (const QByteArray& component : components) {
        if (component == "..")
            folder.truncate(folder.lastIndexOf('/'));
        else if (!component.isEmpty() && component != ".")
            folder += '/' + component;
    }
    return folder;
}

QByteArray lastComponent(const QByteArray& path)
{
    return path.sliced(path.lastIndexOf('/') + 1);
}

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

QList<QByteArray> folderEntries(const QByteArray& folder)
{
    const std::unique_ptr<DIR, DirectoryCloser> directory(::opendir(folder.constData()));
    QList<QByteArray> names;
    if (!directory)
        return names;
    while (const dirent* entry = ::readdir(directory.get())) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            names.append(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace tavix::sysfs
