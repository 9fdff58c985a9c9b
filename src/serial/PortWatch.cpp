#include "serial/PortWatch.h"

namespace tavix {

PortWatch::~PortWatch() = default;

}  // namespace tavix
