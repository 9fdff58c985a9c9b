#pragma once

#include "serial/SerialPortInfo.h"

#include <QCollator>
#include <QList>
#include <QLocale>
#include <QStringView>

namespace tavix {

// Orders port paths the way a file browser orders names: letters without regard to case, runs
// of digits by their value ("-2" before "-10"), following the given locale.
class PathCollator
{
public:
    // The user's current locale.
    PathCollator();
    explicit PathCollator(const QLocale& locale);

    // Negative, zero or positive as a sorts before, with or after b.
    int compare(QStringView a, QStringView b) const;

private:
    QCollator m_collator;
};

// Sorts by path, ascending; ports whose paths compare the same keep their order.
void sortPortsByPath(QList<SerialPortInfo>& ports, const PathCollator& collator = PathCollator());

}  // namespace tavix
