#include "flash/QuarantineAttributes.h"

namespace tavix {

void removeQuarantineAttributes(const QString&) {}

}  // namespace tavix
