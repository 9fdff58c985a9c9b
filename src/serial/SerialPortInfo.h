#pragma once

#include <QList>
#include <QMetaType>
#include <QString>

#include <optional>

// One serial port as offered in the port picker. A plain value: records are made by the
// registry enumeration and by the /dev fallback, then only copied. The path is the record's
// identity: two records of the same path are equal even when their USB details differ, so a
// re-scanned port keeps its selection.
class SerialPortInfo
{
public:
    SerialPortInfo() = default;
    SerialPortInfo(QString path, QString name, QString vendor, QString product,
                   std::optional<qint64> vendorID, std::optional<qint64> productID);

    // Equal to path(); named apart because lists and selections compare by it.
    const QString& id() const { return m_path; }
    const QString& path() const { return m_path; }
    const QString& name() const { return m_name; }
    const QString& vendor() const { return m_vendor; }
    const QString& product() const { return m_product; }
    std::optional<qint64> vendorID() const { return m_vendorID; }
    std::optional<qint64> productID() const { return m_productID; }

    // "Vendor Product (path)", leaving out empty names; the bare path when both are empty.
    QString displayName() const;

    friend bool operator==(const SerialPortInfo& a, const SerialPortInfo& b)
    {
        return a.m_path == b.m_path;
    }
    friend bool operator!=(const SerialPortInfo& a, const SerialPortInfo& b) { return !(a == b); }

private:
    QString m_path;
    QString m_name;
    QString m_vendor;
    QString m_product;
    std::optional<qint64> m_vendorID;
    std::optional<qint64> m_productID;
};

size_t qHash(const SerialPortInfo& info, size_t seed = 0) noexcept;

Q_DECLARE_METATYPE(SerialPortInfo)
