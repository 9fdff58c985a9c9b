#include "serial/PortLister.h"

PortLister::~PortLister() = default;

QList<PortlessAdapter> PortLister::listPortlessAdapters()
{
    return {};
}

std::unique_ptr<PortWatch> PortLister::watchPorts()
{
    return nullptr;
}
