#include "protocol/RomCommand.h"

#include <QTest>

using namespace Qt::StringLiterals;
namespace command = esptool::command;
using esptool::RomRequest;
using esptool::rom::Opcode;

// Expected packets are written out by hand from the protocol's table: direction 0, opcode,
// little-endian size and checksum, then the data words.
class TestRomCommand : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void checksum_data();
    void checksum();
    void packets_data();
    void packets();
    void dataCommandsCarryChecksumOfTheBlockOnly();
};

void TestRomCommand::checksum_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("expected");
    QTest::newRow("nothing is the seed") << QByteArray() << 0xEF;
    QTest::newRow("one byte") << "\x01"_ba << 0xEE;
    QTest::newRow("cancelling pair") << "\x5A\x5A"_ba << 0xEF;
    QTest::newRow("seed itself") << "\xEF"_ba << 0x00;
    QTest::newRow("erased kilobyte") << QByteArray(1024, '\xFF') << 0xEF;
    QTest::newRow("mixed") << "\x12\x34\x56\x78"_ba << (0xEF ^ 0x12 ^ 0x34 ^ 0x56 ^ 0x78);
}

void TestRomCommand::checksum()
{
    QFETCH(QByteArray, data);
    QFETCH(int, expected);
    QCOMPARE(int(command::checksum(data)), expected);
}

void TestRomCommand::packets_data()
{
    QTest::addColumn<RomRequest>("request");
    QTest::addColumn<int>("opcode");
    QTest::addColumn<QByteArray>("packet");

    QTest::newRow("SYNC") << command::sync() << 0x08
                          << "\x00\x08\x24\x00\x00\x00\x00\x00\x07\x07\x12\x20"_ba +
                                 QByteArray(32, '\x55');
    QTest::newRow("READ_REG magic") << command::readReg(0x40001000) << 0x0A
                                    << "\x00\x0A\x04\x00\x00\x00\x00\x00\x00\x10\x00\x40"_ba;
    QTest::newRow("WRITE_REG SPI_CMD start")
        << command::writeReg(0x3FF42000, 0x00040000) << 0x09
        << "\x00\x09\x10\x00\x00\x00\x00\x00"
           "\x00\x20\xF4\x3F\x00\x00\x04\x00\xFF\xFF\xFF\xFF\x00\x00\x00\x00"_ba;
    QTest::newRow("SPI_ATTACH default pins")
        << command::spiAttach(0) << 0x0D
        << "\x00\x0D\x08\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"_ba;
    QTest::newRow("SPI_SET_PARAMS 4MB") << command::spiSetParams(0x400000) << 0x0B
                                        << "\x00\x0B\x18\x00\x00\x00\x00\x00"
                                           "\x00\x00\x00\x00\x00\x00\x40\x00\x00\x00\x01\x00"
                                           "\x00\x10\x00\x00\x00\x01\x00\x00\xFF\xFF\x00\x00"_ba;
    QTest::newRow("CHANGE_BAUDRATE 446148, ROM form")
        << command::changeBaudrate(446148) << 0x0F
        << "\x00\x0F\x08\x00\x00\x00\x00\x00\xC4\xCE\x06\x00\x00\x00\x00\x00"_ba;
    // The captured FLASH_DEFL_BEGIN for 5000 bytes at 0x1000: exactly four words.
    QTest::newRow("FLASH_DEFL_BEGIN 5000 bytes at 0x1000")
        << command::flashDeflBegin(0x1400, 1, 0x400, 0x1000) << 0x10
        << "\x00\x10\x10\x00\x00\x00\x00\x00"
           "\x00\x14\x00\x00\x01\x00\x00\x00\x00\x04\x00\x00\x00\x10\x00\x00"_ba;
    // The whole-chip erase of 4 MiB as the ROM-only path sends it.
    QTest::newRow("FLASH_BEGIN erase 4MB")
        << command::flashBegin(0x400000, 0x1000, 0x400, 0) << 0x02
        << "\x00\x02\x10\x00\x00\x00\x00\x00"
           "\x00\x00\x40\x00\x00\x10\x00\x00\x00\x04\x00\x00\x00\x00\x00\x00"_ba;
    QTest::newRow("SPI_FLASH_MD5")
        << command::spiFlashMd5(0x10000, 0x2000) << 0x13
        << "\x00\x13\x10\x00\x00\x00\x00\x00"
           "\x00\x00\x01\x00\x00\x20\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"_ba;
    QTest::newRow("FLASH_DATA seq 2")
        << command::flashData(2, "\x01\x02\x03\x04"_ba) << 0x03
        << "\x00\x03\x14\x00\xEB\x00\x00\x00"
           "\x04\x00\x00\x00\x02\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"
           "\x01\x02\x03\x04"_ba;
    QTest::newRow("FLASH_DEFL_DATA seq 0")
        << command::flashDeflData(0, "\x78\xDA"_ba) << 0x11
        << "\x00\x11\x12\x00\x4D\x00\x00\x00"
           "\x02\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"
           "\x78\xDA"_ba;
}

void TestRomCommand::packets()
{
    QFETCH(RomRequest, request);
    QFETCH(int, opcode);
    QFETCH(QByteArray, packet);
    QCOMPARE(int(request.opcode), opcode);
    QCOMPARE(request.packet.toHex(' '), packet.toHex(' '));
}

void TestRomCommand::dataCommandsCarryChecksumOfTheBlockOnly()
{
    // The header words of the data command must not enter the checksum.
    const QByteArray block(1024, '\xA5');
    const RomRequest request = command::flashData(7, block);
    QCOMPARE(quint8(request.packet[4]), quint8(0xEF));
    QCOMPARE(request.packet.mid(5, 3), "\x00\x00\x00"_ba);
    QCOMPARE(request.packet.size(), 8 + 16 + 1024);
    QCOMPARE(quint8(request.packet[2]), quint8(0x10));  // 16 + 1024 = 0x410
    QCOMPARE(quint8(request.packet[3]), quint8(0x04));
}

QTEST_APPLESS_MAIN(TestRomCommand)
#include "tst_romcommand.moc"
