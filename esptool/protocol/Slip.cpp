#include "protocol/Slip.h"

namespace esptool::slip {

QByteArray encode(QByteArrayView packet)
{
    QByteArray out;
    out.reserve(packet.size() + packet.size() / 64 + 2);
    out.append(frameEnd);
    for (const char byte : packet) {
        if (byte == frameEnd) {
            out.append(escape);
            out.append(escapedEnd);
        } else if (byte == escape) {
            out.append(escape);
            out.append(escapedEscape);
        } else {
            out.append(byte);
        }
    }
    out.append(frameEnd);
    return out;
}

namespace {

Frame unescape(QByteArrayView stretch)
{
    Frame frame;
    frame.bytes.reserve(stretch.size());
    for (qsizetype i = 0; i < stretch.size(); ++i) {
        const char byte = stretch[i];
        if (byte != escape) {
            frame.bytes.append(byte);
            continue;
        }
        const char next = i + 1 < stretch.size() ? stretch[i + 1] : frameEnd;
        if (next == escapedEnd) {
            frame.bytes.append(frameEnd);
            ++i;
        } else if (next == escapedEscape) {
            frame.bytes.append(escape);
            ++i;
        } else {
            frame.badEscape = true;
            frame.bytes.append(byte);
        }
    }
    return frame;
}

}  // namespace

DecodeResult decode(QByteArrayView input)
{
    DecodeResult result;
    qsizetype start = 0;
    for (qsizetype i = 0; i < input.size(); ++i) {
        if (input[i] != frameEnd)
            continue;
        if (i > start)
            result.frames.append(unescape(input.sliced(start, i - start)));
        start = i + 1;
        result.consumed = start;
    }
    return result;
}

}  // namespace esptool::slip
