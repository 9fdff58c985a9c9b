#include "serial/PortWatch.h"

PortWatch::~PortWatch() = default;
