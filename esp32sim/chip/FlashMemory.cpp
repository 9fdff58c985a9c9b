#include "esp32sim/chip/FlashMemory.h"

#include <QCryptographicHash>

#include <algorithm>

namespace esp32sim {

FlashMemory::FlashMemory(quint32 size, std::optional<quint8> fill)
{
    if (fill) {
        m_bytes.fill(char(*fill), qsizetype(size));
        return;
    }
    m_bytes.resize(qsizetype(size));
    char* data = m_bytes.data();
    for (quint32 address = 0; address < size; ++address)
        data[address] = char(patternByte(address));
}

quint8 FlashMemory::patternByte(quint32 address)
{
    // A 32-bit integer hash of the word index: cheap, stateless and free of long 0xFF runs.
    quint32 x = (address >> 2) * 0x9E3779B9U;
    x ^= x >> 16;
    x *= 0x85EBCA6BU;
    x ^= x >> 13;
    x *= 0xC2B2AE35U;
    x ^= x >> 16;
    return quint8(x >> (8 * (address & 3U)));
}

bool FlashMemory::contains(quint32 address, quint32 length) const
{
    return quint64(address) + length <= quint64(size());
}

Duration FlashMemory::erase(quint32 address, quint32 length)
{
    Duration time{0};
    if (length == 0)
        return time;
    const quint64 end = std::min<quint64>((quint64(address) + length + flashSectorSize - 1) /
                                              flashSectorSize * flashSectorSize,
                                          size());
    quint64 at = address;
    while (at < end) {
        const bool wholeBlock = at % flashBlockSize == 0 && at + flashBlockSize <= end;
        const quint64 step = wholeBlock ? flashBlockSize : flashSectorSize;
        std::fill_n(m_bytes.begin() + qsizetype(at), qsizetype(step), char(0xFF));
        time += wholeBlock ? blockEraseTime : sectorEraseTime;
        at += step;
    }
    return time;
}

FlashMemory::ProgramResult FlashMemory::program(quint32 address, QByteArrayView data)
{
    ProgramResult result;
    if (!contains(address, quint32(data.size())))
        return result;
    char* memory = m_bytes.data() + address;
    qsizetype done = 0;
    while (done < data.size()) {
        const quint32 pageOffset = (address + quint32(done)) % flashPageSize;
        const qsizetype chunk = std::min<qsizetype>(flashPageSize - pageOffset, data.size() - done);
        for (qsizetype i = done; i < done + chunk; ++i)
            memory[i] = char(quint8(memory[i]) & quint8(data[i]));
        result.time += pageProgramTime;
        done += chunk;
    }
    result.verified = QByteArrayView(memory, data.size()) == data;
    return result;
}

bool FlashMemory::load(quint32 address, QByteArrayView bytes)
{
    if (!contains(address, quint32(bytes.size())))
        return false;
    std::copy(bytes.begin(), bytes.end(), m_bytes.begin() + qsizetype(address));
    return true;
}

QByteArray FlashMemory::read(quint32 address, quint32 length) const
{
    if (!contains(address, length))
        return {};
    return m_bytes.mid(qsizetype(address), qsizetype(length));
}

QByteArray FlashMemory::md5Hex(quint32 address, quint32 length) const
{
    if (!contains(address, length))
        return {};
    const auto range = QByteArrayView(m_bytes).sliced(qsizetype(address), qsizetype(length));
    return QCryptographicHash::hash(range, QCryptographicHash::Md5).toHex();
}

}  // namespace esp32sim
