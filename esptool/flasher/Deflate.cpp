#include "flasher/Deflate.h"

#include <array>
#include <zlib.h>

namespace esptool::deflate {

QByteArray compress(QByteArrayView data)
{
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    QByteArray out(static_cast<qsizetype>(size), Qt::Uninitialized);
    const int status = compress2(reinterpret_cast<Bytef*>(out.data()), &size,
                                 reinterpret_cast<const Bytef*>(data.data()),
                                 static_cast<uLong>(data.size()), Z_BEST_COMPRESSION);
    // compressBound() leaves room for any input, so compress2 cannot run short of space.
    Q_ASSERT(status == Z_OK);
    Q_UNUSED(status);
    out.truncate(static_cast<qsizetype>(size));
    return out;
}

QList<quint32> inflatedSizes(QByteArrayView compressed, qsizetype blockSize)
{
    QList<quint32> sizes;
    z_stream stream = {};
    if (inflateInit(&stream) != Z_OK)
        return sizes;
    std::array<Bytef, std::size_t{64} * 1024> scratch{};
    for (qsizetype offset = 0; offset < compressed.size(); offset += blockSize) {
        const QByteArrayView block =
            compressed.sliced(offset).first(std::min(blockSize, compressed.size() - offset));
        stream.next_in = const_cast<Bytef*>(reinterpret_cast<const Bytef*>(block.data()));
        stream.avail_in = static_cast<uInt>(block.size());
        quint32 produced = 0;
        int status = Z_OK;
        do {
            stream.next_out = scratch.data();
            stream.avail_out = static_cast<uInt>(scratch.size());
            status = inflate(&stream, Z_NO_FLUSH);
            produced += static_cast<quint32>(scratch.size() - stream.avail_out);
        } while (status == Z_OK && stream.avail_out == 0);
        sizes.append(produced);
        if (status != Z_OK && status != Z_BUF_ERROR && status != Z_STREAM_END)
            break;
    }
    inflateEnd(&stream);
    return sizes;
}

}  // namespace esptool::deflate
