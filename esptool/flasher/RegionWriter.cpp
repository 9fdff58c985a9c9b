#include "flasher/RegionWriter.h"

#include "flasher/Deflate.h"
#include "flasher/FlashParameters.h"
#include "flasher/FlasherObserver.h"
#include "link/RomConnection.h"
#include "protocol/RomProtocol.h"

#include <QCryptographicHash>
#include <QElapsedTimer>

using namespace Qt::StringLiterals;

namespace esptool {

namespace {

QString hex32(quint32 value)
{
    return u"0x%1"_s.arg(value, 8, 16, QLatin1Char('0'));
}

quint32 blocksFor(qsizetype bytes)
{
    return static_cast<quint32>((bytes + rom::flashBlockSize - 1) / rom::flashBlockSize);
}

QString rangeText(quint32 address, qsizetype size)
{
    return u"%1-%2"_s.arg(hex32(address), hex32(address + static_cast<quint32>(size) - 1));
}

QString secondsText(qint64 milliseconds)
{
    return QString::number(static_cast<double>(milliseconds) / 1000.0, 'f', 1);
}

// Effective rate in kbit/s of `bytes` of flash content in `milliseconds`.
QString rateText(qsizetype bytes, qint64 milliseconds)
{
    const double seconds = std::max<double>(static_cast<double>(milliseconds), 1.0) / 1000.0;
    return QString::number(static_cast<double>(bytes) * 8 / seconds / 1000, 'f', 1);
}

QByteArray md5Hex(QByteArrayView data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex();
}

}  // namespace

RegionWriter::RegionWriter(RomConnection& rom, FlasherObserver& observer)
    : m_rom(rom)
    , m_observer(observer)
{}

Status RegionWriter::write(const FlashRegion& region, bool compress)
{
    QByteArray data = region.data;
    const qsizetype padding =
        (rom::writeAlignment - data.size() % rom::writeAlignment) % rom::writeAlignment;
    data.append(padding, static_cast<char>(rom::erasedByte));
    Status written =
        compress ? writeCompressed(region.address, data) : writeUncompressed(region.address, data);
    if (!written)
        return written;
    return verify(region.address, data);
}

Status RegionWriter::writeCompressed(quint32 address, const QByteArray& data)
{
    const QByteArray compressed = deflate::compress(data);
    const quint32 blockCount = blocksFor(compressed.size());
    // The ROM erases whole 1 KiB blocks' worth of the uncompressed size before inflating.
    const quint32 writeSize = blocksFor(data.size()) * rom::flashBlockSize;
    m_observer.info(u"Compressed %1 bytes to %2."_s.arg(data.size()).arg(compressed.size()));
    m_observer.info(u"Erasing and writing %1..."_s.arg(rangeText(address, data.size())));

    QElapsedTimer timer;
    timer.start();
    const Result<RomReply> begun =
        m_rom.command(command::flashDeflBegin(writeSize, blockCount, rom::flashBlockSize, address),
                      rom::scaledTimeout(rom::timeout::erasePerMb, writeSize),
                      u"erase %1"_s.arg(rangeText(address, writeSize)));
    if (!begun)
        return begun.error();

    const QList<quint32> inflated = deflate::inflatedSizes(compressed, rom::flashBlockSize);
    quint32 position = address;
    for (quint32 sequence = 0; sequence < blockCount; ++sequence) {
        const qsizetype offset = qsizetype{sequence} * rom::flashBlockSize;
        const QByteArrayView block =
            QByteArrayView(compressed)
                .sliced(offset)
                .first(std::min<qsizetype>(rom::flashBlockSize, compressed.size() - offset));
        // Without the inflated size (never for our own stream) allow for the whole region.
        const quint32 expands = sequence < static_cast<quint32>(inflated.size())
                                    ? inflated[sequence]
                                    : static_cast<quint32>(data.size());
        const Result<RomReply> acknowledged =
            m_rom.command(command::flashDeflData(sequence, block),
                          rom::scaledTimeout(rom::timeout::writePerMb, expands),
                          u"write compressed block %1 of %2 (flash at %3)"_s.arg(sequence + 1)
                              .arg(blockCount)
                              .arg(hex32(position)));
        if (!acknowledged)
            return acknowledged.error();
        m_observer.writeProgress(WriteProgress{address, position, static_cast<int>(sequence + 1),
                                               static_cast<int>(blockCount)});
        position += expands;
    }
    const qint64 elapsed = timer.elapsed();
    m_observer.info(
        u"Wrote %1 bytes (%2 compressed) at %3 in %4 s, effective %5 kbit/s."_s.arg(data.size())
            .arg(compressed.size())
            .arg(hex32(address), secondsText(elapsed), rateText(data.size(), elapsed)));
    return {};
}

Status RegionWriter::writeUncompressed(quint32 address, const QByteArray& data)
{
    const quint32 blockCount = blocksFor(data.size());
    m_observer.info(u"Erasing and writing %1..."_s.arg(rangeText(address, data.size())));
    QElapsedTimer timer;
    timer.start();
    const auto size = static_cast<quint32>(data.size());
    const Result<RomReply> begun =
        m_rom.command(command::flashBegin(size, blockCount, rom::flashBlockSize, address),
                      rom::scaledTimeout(rom::timeout::erasePerMb, size),
                      u"erase %1"_s.arg(rangeText(address, size)));
    if (!begun)
        return begun.error();

    for (quint32 sequence = 0; sequence < blockCount; ++sequence) {
        const quint32 offset = sequence * rom::flashBlockSize;
        QByteArray block = data.mid(offset, rom::flashBlockSize);
        // Every block is a full one; the last is filled up with erased bytes.
        block.append(rom::flashBlockSize - block.size(), static_cast<char>(rom::erasedByte));
        const Result<RomReply> acknowledged =
            m_rom.command(command::flashData(sequence, block),
                          rom::scaledTimeout(rom::timeout::writePerMb, rom::flashBlockSize),
                          u"write block %1 of %2 (flash at %3)"_s.arg(sequence + 1)
                              .arg(blockCount)
                              .arg(hex32(address + offset)));
        if (!acknowledged)
            return acknowledged.error();
        m_observer.writeProgress(WriteProgress{address, address + offset,
                                               static_cast<int>(sequence + 1),
                                               static_cast<int>(blockCount)});
    }
    const qint64 elapsed = timer.elapsed();
    m_observer.info(u"Wrote %1 bytes at %2 in %3 s, effective %4 kbit/s."_s.arg(data.size())
                        .arg(hex32(address), secondsText(elapsed), rateText(data.size(), elapsed)));
    return {};
}

Status RegionWriter::eraseAll(quint32 size)
{
    m_observer.info(u"Erasing the whole flash (%1, %2); this can take a while..."_s.arg(
        flash::sizeName(size), rangeText(0, size)));
    QElapsedTimer timer;
    timer.start();
    // FLASH_BEGIN erases the range before it answers; no data has to follow.
    const Result<RomReply> erased =
        m_rom.command(command::flashBegin(size, blocksFor(size), rom::flashBlockSize, 0),
                      rom::scaledTimeout(rom::timeout::erasePerMb, size), u"erase the flash"_s);
    if (!erased)
        return erased.error();
    m_observer.info(
        u"Erased %1 in %2 s."_s.arg(flash::sizeName(size), secondsText(timer.elapsed())));
    return verify(0, QByteArray(static_cast<qsizetype>(size), static_cast<char>(rom::erasedByte)));
}

Status RegionWriter::verify(quint32 address, const QByteArray& data)
{
    const auto size = static_cast<quint32>(data.size());
    m_observer.info(u"Verifying %1..."_s.arg(rangeText(address, size)));
    const Result<RomReply> reply = m_rom.command(
        command::spiFlashMd5(address, size), rom::scaledTimeout(rom::timeout::md5PerMb, size),
        u"hash the flash at %1"_s.arg(rangeText(address, size)));
    if (!reply)
        return reply.error();
    static constexpr int md5HexLength = 32;
    const QByteArray flashMd5 = reply.value().payload.toLower();
    if (flashMd5.size() != md5HexLength) {
        return FlasherError{ErrorKind::garbledReply,
                            u"The chip's reply to SPI_FLASH_MD5 holds %1 bytes instead of a "
                            "32-digit hash."_s.arg(flashMd5.size()),
                            u"Check the cable, or try a lower baud rate."_s};
    }
    const QByteArray expected = md5Hex(data);
    if (flashMd5 == expected) {
        m_observer.info(u"Verified: the flash at %1 matches (MD5 %2)."_s.arg(
            rangeText(address, size), QString::fromLatin1(expected)));
        return {};
    }
    const bool readsErased =
        flashMd5 == md5Hex(QByteArray(data.size(), static_cast<char>(rom::erasedByte)));
    const QString found =
        readsErased ? u"it reads back erased"_s : u"MD5 %1"_s.arg(QString::fromLatin1(flashMd5));
    return FlasherError{ErrorKind::md5Mismatch,
                        u"Verification failed: the flash at %1 does not hold the data written "
                        "(%2, expected MD5 %3)."_s.arg(rangeText(address, size), found,
                                                       QString::fromLatin1(expected)),
                        u"Try again; if it keeps failing, erase the flash first or use a lower "
                        "baud rate."_s};
}

}  // namespace esptool
