#include "EspImage.h"

#include <QCryptographicHash>
#include <QtEndian>

namespace espimage {

namespace {

constexpr qsizetype checksumAlignment = 16;

void appendLe32(QByteArray& out, quint32 v)
{
    char b[4];
    qToLittleEndian(v, b);
    out.append(b, 4);
}

void appendLe16(QByteArray& out, quint16 v)
{
    char b[2];
    qToLittleEndian(v, b);
    out.append(b, 2);
}

}  // namespace

QByteArray build(const ImageLayout& layout)
{
    QByteArray image;
    image.append(char(magic));
    image.append(char(layout.segments.size()));
    image.append(char(layout.flashMode));
    image.append(char(layout.flashSizeAndFreq));
    appendLe32(image, layout.entryPoint);

    image.append(char(wpPinDisabled));
    image.append(3, '\0');  // SPI pin drive settings
    appendLe16(image, chipIdEsp32);
    image.append('\0');  // old single-byte minimum revision
    appendLe16(image, layout.minRevisionFull);
    appendLe16(image, layout.maxRevisionFull);
    image.append(4, '\0');
    image.append(char(layout.appendSha256 ? 1 : 0));

    quint8 checksum = checksumSeed;
    for (const Segment& segment : layout.segments) {
        appendLe32(image, segment.loadAddress);
        appendLe32(image, quint32(segment.data.size()));
        image.append(segment.data);
        for (const char c : segment.data)
            checksum ^= quint8(c);
    }

    const qsizetype padding = checksumAlignment - 1 - image.size() % checksumAlignment;
    image.append(padding, '\0');
    image.append(char(checksum));

    if (layout.appendSha256)
        image.append(QCryptographicHash::hash(image, QCryptographicHash::Sha256));
    return image;
}

}  // namespace espimage
