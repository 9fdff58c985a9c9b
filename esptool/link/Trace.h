#pragma once

#include <QLoggingCategory>

// What a support request needs to see, silent unless switched on with Qt's own rules:
//     QT_LOGGING_RULES="tavix.flasher.*.debug=true"
// The lines go to standard error, which the app merges into its console, so none of them may
// look like progress: no percent sign in any of them.
namespace esptool {

// Each command and reply in short form, each retry and its reason.
Q_DECLARE_LOGGING_CATEGORY(protocolTrace)
// The port: opened, closed, retuned, drained, lost.
Q_DECLARE_LOGGING_CATEGORY(linkTrace)

}  // namespace esptool
