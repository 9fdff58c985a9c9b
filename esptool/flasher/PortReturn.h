#pragma once

#include "link/SerialLink.h"

#include <chrono>

namespace esptool {

// Opens the port at `path` again once it is back after the link went away (an adapter that
// re-enumerates, a loose cable), trying every `poll` for up to `wait`. Every failure to open
// means "not back yet", "permission denied" and "busy" too: udev and other services touch a
// fresh node first. The last failure once `wait` has passed.
Result<std::unique_ptr<SerialLink>> waitForPort(const LinkOpener& open, const QString& path,
                                                int baud, std::chrono::milliseconds wait,
                                                std::chrono::milliseconds poll);

}  // namespace esptool
