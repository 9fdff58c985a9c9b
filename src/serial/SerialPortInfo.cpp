#include "serial/SerialPortInfo.h"

#include <QHashFunctions>
#include <QStringList>

#include <utility>

using namespace Qt::StringLiterals;

namespace tavix {

SerialPortInfo::SerialPortInfo(Fields fields)
    : m_fields(std::move(fields))
{}

QString SerialPortInfo::displayName() const
{
    QStringList names;
    if (!m_fields.vendor.isEmpty())
        names.append(m_fields.vendor);
    if (!m_fields.product.isEmpty())
        names.append(m_fields.product);
    if (names.isEmpty())
        return m_fields.path;
    return names.join(u' ') + u" ("_s + m_fields.path + u')';
}

size_t qHash(const SerialPortInfo& info, size_t seed) noexcept
{
    return qHash(info.id(), seed);
}

}  // namespace tavix
