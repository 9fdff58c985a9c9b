#include "serial/PortLister.h"

PortLister::~PortLister() = default;
