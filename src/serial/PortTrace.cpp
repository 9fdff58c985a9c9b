#include "serial/PortTrace.h"

using namespace Qt::StringLiterals;

namespace tavix {

Q_LOGGING_CATEGORY(portTrace, "tavix.ports", QtWarningMsg)

QString traceQuoted(const QString& text)
{
    QString quoted = text;
    quoted.replace(u'%', u"(percent)"_s);
    return u'"' + quoted + u'"';
}

}  // namespace tavix
