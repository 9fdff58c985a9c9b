#include "serial/PortNaming.h"

using namespace Qt::StringLiterals;

namespace tavix {

namespace {

constexpr QStringView macCalloutMarker = u"/cu.";
constexpr QStringView macCalloutPrefix = u"cu.";
constexpr QStringView linuxDevDirectory = u"/dev/";
constexpr QStringView linuxEntryPrefix = u"tty";

}  // namespace

bool PortNaming::isCalloutPath(QStringView path) const
{
    switch (m_scheme) {
    case Scheme::calloutAndDialIn:
        return path.contains(macCalloutMarker);
    case Scheme::singleNode:
        return path.startsWith(linuxDevDirectory);
    }
    return false;
}

QStringList PortNaming::devEntryKeywords() const
{
    static const QStringList shared{u"usbserial"_s, u"slab_usbtouart"_s, u"wchusbserial"_s,
                                    u"usbmodem"_s,  u"cp210"_s,          u"ch340"_s,
                                    u"ch341"_s,     u"ch910"_s};
    // USB serial bridges appear as ttyUSB<n>, CDC-ACM devices (the ESP32-S3's own USB among
    // them) as ttyACM<n>; neither holds any of the macOS driver names above.
    static const QStringList withLinuxNodes = shared + QStringList{u"ttyusb"_s, u"ttyacm"_s};
    return m_scheme == Scheme::singleNode ? withLinuxNodes : shared;
}

bool PortNaming::acceptsDevEntry(QStringView entryName) const
{
    const QStringView prefix =
        m_scheme == Scheme::calloutAndDialIn ? macCalloutPrefix : linuxEntryPrefix;
    if (!entryName.startsWith(prefix))
        return false;
    const QString lowered = entryName.toString().toLower();
    const QStringList keywords = devEntryKeywords();
    for (const QString& keyword : keywords) {
        if (lowered.contains(keyword))
            return true;
    }
    return false;
}

QString PortNaming::portNameForDevEntry(QStringView entryName) const
{
    if (m_scheme == Scheme::calloutAndDialIn && entryName.startsWith(macCalloutPrefix))
        return entryName.sliced(macCalloutPrefix.size()).toString();
    return entryName.toString();
}

}  // namespace tavix
