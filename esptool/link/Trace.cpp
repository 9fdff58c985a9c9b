#include "link/Trace.h"

namespace esptool {

Q_LOGGING_CATEGORY(protocolTrace, "tavix.flasher.protocol", QtWarningMsg)
Q_LOGGING_CATEGORY(linkTrace, "tavix.flasher.link", QtWarningMsg)

}  // namespace esptool
