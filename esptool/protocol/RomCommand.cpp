#include "protocol/RomCommand.h"

#include <QtEndian>

#include <initializer_list>

using namespace Qt::StringLiterals;

namespace esptool {

namespace {

void appendWord(QByteArray& out, quint32 word)
{
    char bytes[4];
    qToLittleEndian(word, bytes);
    out.append(bytes, sizeof bytes);
}

QByteArray words(std::initializer_list<quint32> values)
{
    QByteArray out;
    out.reserve(static_cast<qsizetype>(values.size()) * 4);
    for (const quint32 value : values)
        appendWord(out, value);
    return out;
}

// FLASH_DATA and FLASH_DEFL_DATA: length, sequence, two zero words, then the checksummed bytes.
// The request, allowed as long as the ROM needs to touch `bytes` of flash at `perMb`.
RomRequest timed(RomRequest request, std::chrono::milliseconds perMb, quint64 bytes)
{
    request.timeout = rom::scaledTimeout(perMb, bytes);
    return request;
}

RomRequest dataCommand(rom::Opcode opcode, quint32 sequence, QByteArrayView block)
{
    QByteArray data = words({static_cast<quint32>(block.size()), sequence, 0, 0});
    data.append(block);
    return command::packet(opcode, data, command::checksum(block));
}

}  // namespace

namespace command {

quint8 checksum(QByteArrayView data)
{
    quint8 sum = rom::checksumSeed;
    for (const char byte : data)
        sum ^= static_cast<quint8>(byte);
    return sum;
}

RomRequest packet(rom::Opcode opcode, QByteArrayView data, quint32 checksum)
{
    Q_ASSERT(data.size() <= 0xFFFF);
    QByteArray out;
    out.reserve(rom::packetHeaderSize + data.size());
    out.append(static_cast<char>(rom::requestDirection));
    out.append(static_cast<char>(opcode));
    char size[2];
    qToLittleEndian(static_cast<quint16>(data.size()), size);
    out.append(size, sizeof size);
    appendWord(out, checksum);
    out.append(data);
    return RomRequest{opcode, out};
}

RomRequest sync()
{
    static constexpr int patternLength = 32;
    QByteArray data("\x07\x07\x12\x20", 4);
    data.append(patternLength, '\x55');
    return packet(rom::Opcode::sync, data);
}

RomRequest readReg(quint32 address)
{
    return packet(rom::Opcode::readReg, words({address}));
}

RomRequest writeReg(quint32 address, quint32 value, quint32 mask, quint32 delayUs)
{
    return packet(rom::Opcode::writeReg, words({address, value, mask, delayUs}));
}

RomRequest spiAttach(quint32 pinConfig)
{
    // The pin word, then four bytes that the ROM wants zero (the first is an "is legacy" flag).
    return packet(rom::Opcode::spiAttach, words({pinConfig, 0}));
}

RomRequest spiSetParams(quint32 totalSize)
{
    return packet(rom::Opcode::spiSetParams,
                  words({0, totalSize, rom::flashEraseBlockSize, rom::flashSectorSize,
                         rom::flashPageSize, rom::flashStatusMask}));
}

RomRequest changeBaudrate(quint32 newBaud)
{
    return packet(rom::Opcode::changeBaudrate, words({newBaud, 0}));
}

RomRequest flashBegin(quint32 eraseSize, quint32 blockCount, quint32 blockSize, quint32 offset)
{
    return timed(packet(rom::Opcode::flashBegin, words({eraseSize, blockCount, blockSize, offset})),
                 rom::timeout::erasePerMb, eraseSize);
}

RomRequest flashData(quint32 sequence, QByteArrayView block)
{
    return timed(dataCommand(rom::Opcode::flashData, sequence, block), rom::timeout::writePerMb,
                 static_cast<quint64>(block.size()));
}

RomRequest flashDeflBegin(quint32 writeSize, quint32 blockCount, quint32 blockSize, quint32 offset)
{
    return timed(
        packet(rom::Opcode::flashDeflBegin, words({writeSize, blockCount, blockSize, offset})),
        rom::timeout::erasePerMb, writeSize);
}

RomRequest flashDeflData(quint32 sequence, QByteArrayView block, quint32 inflatedSize)
{
    return timed(dataCommand(rom::Opcode::flashDeflData, sequence, block), rom::timeout::writePerMb,
                 inflatedSize);
}

RomRequest spiFlashMd5(quint32 address, quint32 size)
{
    return timed(packet(rom::Opcode::spiFlashMd5, words({address, size, 0, 0})),
                 rom::timeout::md5PerMb, size);
}

}  // namespace command

QString opcodeName(rom::Opcode opcode)
{
    switch (opcode) {
    case rom::Opcode::flashBegin:
        return u"FLASH_BEGIN"_s;
    case rom::Opcode::flashData:
        return u"FLASH_DATA"_s;
    case rom::Opcode::flashEnd:
        return u"FLASH_END"_s;
    case rom::Opcode::sync:
        return u"SYNC"_s;
    case rom::Opcode::writeReg:
        return u"WRITE_REG"_s;
    case rom::Opcode::readReg:
        return u"READ_REG"_s;
    case rom::Opcode::spiSetParams:
        return u"SPI_SET_PARAMS"_s;
    case rom::Opcode::spiAttach:
        return u"SPI_ATTACH"_s;
    case rom::Opcode::changeBaudrate:
        return u"CHANGE_BAUDRATE"_s;
    case rom::Opcode::flashDeflBegin:
        return u"FLASH_DEFL_BEGIN"_s;
    case rom::Opcode::flashDeflData:
        return u"FLASH_DEFL_DATA"_s;
    case rom::Opcode::flashDeflEnd:
        return u"FLASH_DEFL_END"_s;
    case rom::Opcode::spiFlashMd5:
        return u"SPI_FLASH_MD5"_s;
    }
    return u"opcode 0x%1"_s.arg(static_cast<int>(opcode), 2, 16, QLatin1Char('0'));
}

}  // namespace esptool
