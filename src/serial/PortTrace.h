#pragma once

#include <QLoggingCategory>
#include <QString>

namespace tavix {

// "tavix.ports": which ports and adapters the lists leave out, and why, for a support request.
// Silent unless switched on: QT_LOGGING_RULES="tavix.ports.debug=true".
Q_DECLARE_LOGGING_CATEGORY(portTrace)

// A text the system reports (a device's name) as a trace line may carry it: in quotes, and
// without "%", so that no trace line ever reads as a flasher's progress.
QString traceQuoted(const QString& text);

}  // namespace tavix
