#pragma once

#include <QString>

namespace tavix {

// Clears the marks macOS puts on downloaded files, which would stop the flasher from running.
// Failures (usually: the attribute is not there) are of no interest. Does nothing elsewhere.
void removeQuarantineAttributes(const QString& path);

}  // namespace tavix
