// The SLIP decoder on a received byte stream, fed in reads the way the ROM connection gets them.
//
// Input: length-prefixed reads (see FuzzInput.h). Invariants:
// - the decoder's account of what it consumed is exact: it ends at a delimiter, the rest holds
//   none, and the frames fit into it;
// - feeding the stream read by read, keeping the unfinished rest each time, gives the same frames
//   as decoding it at once;
// - every frame, and the whole stream taken as one packet, survive encode -> decode unchanged.

#include "FuzzInput.h"
#include "protocol/Slip.h"

namespace slip = esptool::slip;

namespace {

void checkAccount(QByteArrayView input, const slip::DecodeResult& result)
{
    fuzz::check(result.consumed >= 0 && result.consumed <= input.size(), "consumed within input");
    fuzz::check(result.consumed == 0 || input[result.consumed - 1] == slip::frameEnd,
                "consumed bytes end with a delimiter");
    fuzz::check(!input.sliced(result.consumed).contains(slip::frameEnd),
                "the unfinished rest holds no delimiter");
    // Each frame takes at least its own bytes and the delimiter that ends it.
    qsizetype used = 0;
    for (const slip::Frame& frame : result.frames) {
        fuzz::check(!frame.bytes.isEmpty(), "empty stretches are not frames");
        used += frame.bytes.size() + 1;
    }
    fuzz::check(used <= result.consumed, "frames fit into the consumed bytes");
}

void checkRoundTrip(const QByteArray& packet)
{
    const QByteArray wire = slip::encode(packet);
    const slip::DecodeResult back = slip::decode(wire);
    fuzz::check(back.consumed == wire.size(), "an encoded packet is consumed whole");
    if (packet.isEmpty()) {
        fuzz::check(back.frames.isEmpty(), "an empty packet decodes to no frame");
        return;
    }
    fuzz::check(back.frames.size() == 1, "an encoded packet decodes to one frame");
    fuzz::check(back.frames.front() == slip::Frame{packet, false},
                "encode -> decode gives the packet back");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QList<QByteArray> reads = fuzz::lengthPrefixedReads(fuzz::bytes(data, size));

    QByteArray pending;
    QList<slip::Frame> framesByRead;
    for (const QByteArray& read : reads) {
        pending += read;
        slip::DecodeResult decoded = slip::decode(pending);
        checkAccount(pending, decoded);
        pending.remove(0, decoded.consumed);
        framesByRead += std::move(decoded.frames);
    }

    const QByteArray stream = reads.join();
    const slip::DecodeResult whole = slip::decode(stream);
    checkAccount(stream, whole);
    fuzz::check(whole.frames == framesByRead, "read by read gives the frames of the whole stream");
    fuzz::check(stream.sliced(whole.consumed) == pending,
                "read by read leaves the rest of the whole stream");

    for (const slip::Frame& frame : whole.frames)
        checkRoundTrip(frame.bytes);
    checkRoundTrip(stream);
    return 0;
}
