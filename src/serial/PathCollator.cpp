#include "serial/PathCollator.h"

#include <algorithm>

namespace tavix {

namespace {

QCollator makeCollator(const QLocale& locale)
{
    // Qt's collator compares code units in the C/POSIX locale and ignores numeric mode there,
    // which would put "ttyUSB10" before "ttyUSB2" on machines running with LANG=C.UTF-8. The
    // English collation has no tailoring of its own (it is the root collation) and honours it.
    QCollator collator(locale.language() == QLocale::C ? QLocale(QLocale::English) : locale);
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    return collator;
}

}  // namespace

PathCollator::PathCollator()
    : PathCollator(QLocale())
{}

PathCollator::PathCollator(const QLocale& locale)
    : m_collator(makeCollator(locale))
{}

int PathCollator::compare(QStringView a, QStringView b) const
{
    return m_collator.compare(a, b);
}

void sortPortsByPath(QList<SerialPortInfo>& ports, const PathCollator& collator)
{
    std::stable_sort(ports.begin(), ports.end(),
                     [&collator](const SerialPortInfo& a, const SerialPortInfo& b) {
                         return collator.compare(a.path(), b.path()) < 0;
                     });
}

}  // namespace tavix
