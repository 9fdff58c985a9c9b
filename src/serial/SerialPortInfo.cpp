#include "serial/SerialPortInfo.h"

#include <QHashFunctions>
#include <QStringList>

#include <utility>

using namespace Qt::StringLiterals;

SerialPortInfo::SerialPortInfo(QString path, QString name, QString vendor, QString product,
                               std::optional<qint64> vendorID, std::optional<qint64> productID)
    : m_path(std::move(path))
    , m_name(std::move(name))
    , m_vendor(std::move(vendor))
    , m_product(std::move(product))
    , m_vendorID(vendorID)
    , m_productID(productID)
{}

QString SerialPortInfo::displayName() const
{
    QStringList names;
    if (!m_vendor.isEmpty())
        names.append(m_vendor);
    if (!m_product.isEmpty())
        names.append(m_product);
    if (names.isEmpty())
        return m_path;
    return names.join(u' ') + u" ("_s + m_path + u')';
}

size_t qHash(const SerialPortInfo& info, size_t seed) noexcept
{
    return qHash(info.id(), seed);
}
