#include "serial/SettledAdapters.h"

namespace tavix {

QList<PortlessAdapter> SettledAdapters::update(const QList<PortlessAdapter>& seen,
                                               Clock::time_point now)
{
    QHash<QString, Clock::time_point> firstSeen;
    QList<PortlessAdapter> settled;
    for (const PortlessAdapter& adapter : seen) {
        const Clock::time_point since = m_firstSeen.value(adapter.identity(), now);
        firstSeen.insert(adapter.identity(), since);
        if (now - since >= settleTime)
            settled.append(adapter);
    }
    m_firstSeen = std::move(firstSeen);
    return settled;
}

}  // namespace tavix
