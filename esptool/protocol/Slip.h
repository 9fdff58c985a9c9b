#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

// SLIP framing as the ROM loader uses it: 0xC0 opens and closes every frame, 0xC0 and 0xDB
// inside a frame are escaped. Pure functions over bytes.
namespace esptool::slip {

inline constexpr char frameEnd = '\xC0';
inline constexpr char escape = '\xDB';
inline constexpr char escapedEnd = '\xDC';
inline constexpr char escapedEscape = '\xDD';

// The packet escaped and wrapped in delimiters, ready for the wire.
QByteArray encode(QByteArrayView packet);

struct Frame
{
    QByteArray bytes;
    // An escape byte followed by something other than 0xDC/0xDD; that pair is kept as received.
    bool badEscape = false;

    friend bool operator==(const Frame&, const Frame&) = default;
};

struct DecodeResult
{
    QList<Frame> frames;
    // Bytes of the input taken up by `frames` (and by empty stretches between delimiters).
    // The rest is an unfinished frame: prepend it to the next input.
    qsizetype consumed = 0;
};

// Splits a received byte stream into frames. Every 0xC0 ends whatever came before it, so a
// frame's closing delimiter and the next frame's opening one (back-to-back frames) leave an
// empty stretch, which is skipped. Bytes outside any frame (a boot message, line noise) come
// out as a frame of their own that no reply parser accepts.
DecodeResult decode(QByteArrayView input);

}  // namespace esptool::slip
