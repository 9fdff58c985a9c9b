#pragma once

#include <QtGlobal>

namespace esptool {

// When asking the chip whether it already holds a piece pays. An MD5 of the flash costs a round
// trip and the ROM's hashing time, whose speed is published nowhere: both are measured from the
// chip's own answers during the run. Onto a board that holds the image, every check saves a
// piece's erase and write; onto one that holds something else, every check is pure cost. So
// checking ahead stops after two pieces in a row differed, and starts again only for pieces
// the board may well hold as they are (erased flash) and only while the checks that found
// nothing have cost a small part of the time spent writing.
class SkipPolicy
{
public:
    // Pieces in a row that differed before checking ahead stops.
    static constexpr int missesToStop = 2;

    explicit SkipPolicy(bool enabled);

    bool enabled() const { return m_enabled; }
    // Whether to ask before writing the next piece (`erased`: the image holds only 0xFF there).
    bool shouldCheck(bool erased) const;
    // Whether a piece about to be checked, should it differ, is worth searching for the sectors
    // that do: asked before its check, of what the checks before it found.
    bool shouldNarrow() const;

    enum class Search
    {
        bySector,  // one MD5 per sector: more round trips, each byte hashed once
        byHalves,  // halves of halves: fewer round trips, some bytes hashed again
    };
    // The cheaper way to find one changed sector among `sectors`, as the chip has answered so
    // far.
    Search search(int sectors, quint32 sectorSize) const;

    // What an MD5 of `bytes` took; whether it matched.
    void checked(qint64 bytes, qint64 milliseconds, bool matched);
    // A command with no flash work answered in this long: a round trip on this line.
    void roundTrip(qint64 milliseconds);
    // Time spent writing (erase, data, program).
    void wrote(qint64 milliseconds) { m_writingMs += milliseconds; }

    // Estimated milliseconds an MD5 of `bytes` takes.
    double checkCost(qint64 bytes) const;

private:
    bool m_enabled;
    int m_checks = 0;
    int m_consecutiveMisses = 0;
    bool m_lastMatched = false;
    double m_wastedMs = 0;  // checks that found the piece different
    qint64 m_writingMs = 0;
    double m_roundTripMs = -1;    // the fastest plain command seen
    double m_hashMsPerByte = -1;  // from the checks, their round trip taken off
};

}  // namespace esptool
