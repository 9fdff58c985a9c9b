#include "flasher/PieceSize.h"

namespace esptool {

void PieceSize::shrink()
{
    if (canShrink())
        m_size /= step;
    m_successes = 0;
}

void PieceSize::succeeded()
{
    if (m_size == largest || ++m_successes < successesToGrow)
        return;
    m_size *= step;
    m_successes = 0;
}

}  // namespace esptool
