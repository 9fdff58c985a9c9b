#pragma once

#include <QList>
#include <QMetaType>
#include <QString>

#include <optional>

namespace tavix {

// One serial port as offered in the port picker. A plain value: records are made by the
// port lister and by the /dev fallback, then only copied. The path is the record's
// identity: two records of the same path are equal even when their USB details differ, so a
// re-scanned port keeps its selection.
class SerialPortInfo
{
public:
    // Named fields, so that a record reads as what it holds:
    // SerialPortInfo({.path = u"/dev/ttyUSB0"_s, .name = u"ttyUSB0"_s, .vendorID = 0x10C4}).
    struct Fields
    {
        QString path = {};
        QString name = {};
        QString vendor = {};
        QString product = {};
        std::optional<qint64> vendorID = std::nullopt;
        std::optional<qint64> productID = std::nullopt;
    };

    SerialPortInfo() = default;
    explicit SerialPortInfo(Fields fields);

    // Equal to path(); named apart because lists and selections compare by it.
    const QString& id() const { return m_fields.path; }
    const QString& path() const { return m_fields.path; }
    const QString& name() const { return m_fields.name; }
    const QString& vendor() const { return m_fields.vendor; }
    const QString& product() const { return m_fields.product; }
    std::optional<qint64> vendorID() const { return m_fields.vendorID; }
    std::optional<qint64> productID() const { return m_fields.productID; }

    // "Vendor Product (path)", leaving out empty names; the bare path when both are empty.
    QString displayName() const;

    friend bool operator==(const SerialPortInfo& a, const SerialPortInfo& b)
    {
        return a.m_fields.path == b.m_fields.path;
    }
    friend bool operator!=(const SerialPortInfo& a, const SerialPortInfo& b) { return !(a == b); }

private:
    Fields m_fields;
};

size_t qHash(const SerialPortInfo& info, size_t seed = 0) noexcept;

}  // namespace tavix

Q_DECLARE_METATYPE(tavix::SerialPortInfo)
