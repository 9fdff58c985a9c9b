#include "flash/QuarantineAttributes.h"

void removeQuarantineAttributes(const QString&) {}
