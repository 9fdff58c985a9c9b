#pragma once

#include "serial/PortlessAdapter.h"

#include <QHash>
#include <QList>
#include <QString>

#include <chrono>

namespace tavix {

// Holds an adapter without a port back until it has stayed so for a while: at plug-in a USB
// device appears a little before its driver binds and makes its port, and a kernel module that
// is loaded on demand takes longer still. With a refresh every two seconds, that is two scans.
class SettledAdapters
{
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds settleTime{1000};

    // Takes one scan's adapters and gives, in the scan's order, those that have been without a
    // port since a scan at least settleTime before now. An adapter missing from a scan starts
    // afresh when it shows up again.
    QList<PortlessAdapter> update(const QList<PortlessAdapter>& seen, Clock::time_point now);

private:
    QHash<QString, Clock::time_point> m_firstSeen;
};

}  // namespace tavix
