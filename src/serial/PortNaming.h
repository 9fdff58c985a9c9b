#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>
#include <QtGlobal>

namespace tavix {

// How this platform names serial device nodes. macOS gives every port a callout node
// "/dev/cu.<name>" beside its dial-in node "/dev/tty.<name>", and only the callout node is
// offered. Linux has a single node per port ("/dev/ttyUSB0"), so any path under /dev counts.
class PortNaming
{
public:
    enum class Scheme
    {
        calloutAndDialIn,  // macOS: "/dev/cu.<name>" beside "/dev/tty.<name>"
        singleNode,        // Linux: one node per port, "/dev/ttyUSB0"
    };

#if defined(Q_OS_MACOS)
    static constexpr Scheme platformScheme = Scheme::calloutAndDialIn;
#else
    static constexpr Scheme platformScheme = Scheme::singleNode;
#endif

    explicit constexpr PortNaming(Scheme scheme = platformScheme)
        : m_scheme(scheme)
    {}

    Scheme scheme() const
    {
        return m_scheme;
    }

    // Whether a listed port's path is one that a flasher should open.
    bool isCalloutPath(QStringView path) const;

    // Keywords of /dev entry names that look like USB serial adapters, all lower-case.
    QStringList devEntryKeywords() const;

    // Whether a /dev entry name is taken by the fallback listing: the callout prefix, and one of
    // devEntryKeywords() anywhere in its lower-cased form.
    bool acceptsDevEntry(QStringView entryName) const;

    // The port name shown for an accepted /dev entry.
    QString portNameForDevEntry(QStringView entryName) const;

private:
    Scheme m_scheme;
};

}  // namespace tavix
