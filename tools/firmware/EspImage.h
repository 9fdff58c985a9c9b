#pragma once

#include <QByteArray>
#include <QList>
#include <QtGlobal>

// ESP32 application / boot loader image format: an 8-byte header, a 16-byte extended header,
// segments (load address, length, data), zero padding up to a 16-byte boundary whose last
// byte is the XOR checksum of all segment data seeded with 0xEF, then optionally a SHA-256
// of everything before it.
namespace espimage {

inline constexpr quint8 magic = 0xE9;
inline constexpr quint8 checksumSeed = 0xEF;
inline constexpr quint8 flashModeDio = 2;
inline constexpr quint8 flashSize16Mib = 4;    // high nibble of byte 3
inline constexpr quint8 flashFreq80Mhz = 0xF;  // low nibble of byte 3
inline constexpr quint8 wpPinDisabled = 0xEE;
inline constexpr quint16 chipIdEsp32 = 0;
inline constexpr qsizetype headerLength = 24;  // header + extended header
inline constexpr qsizetype segmentHeaderLength = 8;
inline constexpr qsizetype shaLength = 32;

struct Segment
{
    quint32 loadAddress = 0;
    QByteArray data;  // length a multiple of 4
};

struct ImageLayout
{
    quint32 entryPoint = 0;
    quint8 flashMode = flashModeDio;
    quint8 flashSizeAndFreq = (flashSize16Mib << 4) | flashFreq80Mhz;
    quint16 minRevisionFull = 0;    // major * 100 + minor
    quint16 maxRevisionFull = 399;  // any v3.x
    bool appendSha256 = true;
    QList<Segment> segments;
};

QByteArray build(const ImageLayout& layout);

}  // namespace espimage
