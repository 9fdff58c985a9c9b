#include "serial/DeviceRegistry.h"

DeviceRegistry::~DeviceRegistry() = default;
