#pragma once

#include <QtGlobal>

namespace esptool {

// How much of a region one piece (one BEGIN, its blocks, one MD5) takes. The ROM's XOR checksum
// lets through a block whose flipped bits cancel out, about one accepted block in fifteen at one
// flipped byte in a thousand: a 64 KiB piece then almost never arrives whole, a 4 KiB one three
// times in four. So a piece that fails on a noisy line is cut into smaller ones, and the size
// grows again once the line has carried a good run of pieces. Sizes are whole erase units, so
// that a piece's BEGIN erases nothing beyond it.
class PieceSize
{
public:
    static constexpr quint32 largest = 0x10000;  // the flash's erase block
    static constexpr quint32 smallest = 0x1000;  // its sector
    // Pieces in a row that must go through at one size before the next larger one is tried.
    static constexpr int successesToGrow = 16;

    quint32 current() const { return m_size; }
    bool canShrink() const { return m_size > smallest; }

    void shrink();
    void succeeded();

private:
    static constexpr quint32 step = 4;

    quint32 m_size = largest;
    int m_successes = 0;
};

}  // namespace esptool
