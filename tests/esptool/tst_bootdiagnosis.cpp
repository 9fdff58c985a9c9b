#include "flasher/BootDiagnosis.h"

#include <QTest>

using namespace Qt::StringLiterals;
using esptool::ErrorKind;

class TestBootDiagnosis : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void judgesWhatThePortCarried_data();
    void judgesWhatThePortCarried();
};

void TestBootDiagnosis::judgesWhatThePortCarried_data()
{
    QTest::addColumn<QByteArray>("heard");
    QTest::addColumn<ErrorKind>("kind");
    QTest::addColumn<QString>("says");
    QTest::newRow("booted from flash")
        << "ets Jun  8 2016 00:22:57\r\n\r\nrst:0x1 (POWERON_RESET),boot:0x13 "
           "(SPI_FAST_FLASH_BOOT)\r\nentry 0x400805cc\r\nI (31) boot: ESP-IDF\r\n"_ba
        << ErrorKind::bootedFirmware << u"\"boot:0x13 (SPI_FAST_FLASH_BOOT)\""_s;
    // After a reset during the run the last banner is the one that counts.
    QTest::newRow("download mode, then a reset into the firmware")
        << "rst:0x1 (POWERON_RESET),boot:0x3 (DOWNLOAD_BOOT(UART0/UART1/SDIO_REI_REO_V2))\r\n"
           "rst:0x10 (RTCWDT_RTC_RESET),boot:0x1b (SPI_FAST_FLASH_BOOT)\r\n"_ba
        << ErrorKind::bootedFirmware << u"boot:0x1b"_s;
    QTest::newRow("waiting for a download, but no reply")
        << "rst:0x1 (POWERON_RESET),boot:0x3 (DOWNLOAD_BOOT(UART0/UART1/SDIO_REI_REO_V2))\r\n"
           "waiting for download\r\n"_ba
        << ErrorKind::noAnswer << u"waiting for a download"_s;
    QTest::newRow("silence") << QByteArray() << ErrorKind::noAnswer << u"no data came"_s;
    QTest::newRow("bytes at another speed")
        << "\x80\x00\xF8\x78\x80\xF8\x00\x78"_ba << ErrorKind::noAnswer
        << u"8 bytes came from the port, but never a valid reply"_s;
}

void TestBootDiagnosis::judgesWhatThePortCarried()
{
    QFETCH(QByteArray, heard);
    QFETCH(ErrorKind, kind);
    QFETCH(QString, says);
    const esptool::FlasherError error =
        esptool::noAnswerDiagnosis(u"/dev/ttyUSB0"_s, heard, heard.size());
    QCOMPARE(error.kind, kind);
    QVERIFY2(error.message.contains(says), qPrintable(error.message));
    QVERIFY(error.message.contains(u"/dev/ttyUSB0"_s));
    QVERIFY(!error.hint.isEmpty());
}

QTEST_APPLESS_MAIN(TestBootDiagnosis)
#include "tst_bootdiagnosis.moc"
