#include "serial/PortLister.h"

namespace tavix {

PortLister::~PortLister() = default;

QList<PortlessAdapter> PortLister::listPortlessAdapters()
{
    return {};
}

std::unique_ptr<PortWatch> PortLister::watchPorts()
{
    return nullptr;
}

}  // namespace tavix
