#include "flasher/ChipInfo.h"

#include <QTest>

using namespace Qt::StringLiterals;
using esptool::EfuseWords;

namespace {

// The eFuse values of an ESP32-D0WD-V3 revision v3.1 with MAC 24:0a:c4:12:34:56.
EfuseWords d0wdV3()
{
    EfuseWords efuses;
    efuses.words = {0, 0xC4123456, 0x0000240A, 0x0000A200, 0x00000064, 0x01100000, 0};
    efuses.apbCtlDate = 0x80000000;
    return efuses;
}

}  // namespace

class TestChipInfo : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void describesTheChip();
    void packages_data();
    void packages();
    void revisions_data();
    void revisions();
    void features();
    void flashEncryptionCount();
    void crystal_data();
    void crystal();
    void baudCorrection_data();
    void baudCorrection();
    void spiPins();
};

void TestChipInfo::describesTheChip()
{
    const esptool::ChipDescription chip = esptool::describeChip(d0wdV3());
    QCOMPARE(chip.package, u"ESP32-D0WD-V3"_s);
    QCOMPARE(chip.revisionText(), u"v3.1"_s);
    QCOMPARE(chip.macText(), u"24:0a:c4:12:34:56"_s);
    QVERIFY(!chip.flashEncryptionOn);
}

void TestChipInfo::packages_data()
{
    QTest::addColumn<quint32>("word3");
    QTest::addColumn<bool>("revision3");
    QTest::addColumn<QString>("package");
    // Package code = word3 bits 11:9, with bit 2 as its bit 3; bit 0 means single core.
    QTest::newRow("0 D0WDQ6") << quint32(0 << 9) << false << u"ESP32-D0WDQ6"_s;
    QTest::newRow("0 D0WDQ6 rev3") << quint32(0 << 9) << true << u"ESP32-D0WDQ6-V3"_s;
    QTest::newRow("0 single core") << quint32(0 << 9 | 1) << false << u"ESP32-S0WDQ6"_s;
    QTest::newRow("1 D0WD") << quint32(1 << 9) << false << u"ESP32-D0WD"_s;
    QTest::newRow("1 single core") << quint32(1 << 9 | 1) << false << u"ESP32-S0WD"_s;
    QTest::newRow("2 D2WD") << quint32(2 << 9) << false << u"ESP32-D2WD"_s;
    QTest::newRow("4 U4WDH") << quint32(4 << 9) << false << u"ESP32-U4WDH"_s;
    QTest::newRow("5 PICO-D4") << quint32(5 << 9) << false << u"ESP32-PICO-D4"_s;
    QTest::newRow("5 PICO rev3") << quint32(5 << 9) << true << u"ESP32-PICO-V3"_s;
    QTest::newRow("6 PICO-V3-02") << quint32(6 << 9) << false << u"ESP32-PICO-V3-02"_s;
    QTest::newRow("7 D0WDR2-V3") << quint32(7 << 9) << true << u"ESP32-D0WDR2-V3"_s;
    QTest::newRow("3 unknown") << quint32(3 << 9) << false << u"unknown ESP32 package"_s;
    QTest::newRow("bit 2 makes 8")
        << quint32(0 << 9 | 1 << 2) << false << u"unknown ESP32 package"_s;
}

void TestChipInfo::packages()
{
    QFETCH(quint32, word3);
    QFETCH(bool, revision3);
    QFETCH(QString, package);
    EfuseWords efuses;
    efuses.words[3] = word3 | (revision3 ? 1u << 15 : 0);
    efuses.words[5] = revision3 ? 1u << 20 : 0;
    efuses.apbCtlDate = revision3 ? 1u << 31 : 0;
    QCOMPARE(esptool::describeChip(efuses).package, package);
}

void TestChipInfo::revisions_data()
{
    QTest::addColumn<int>("bits");  // b2 b1 b0
    QTest::addColumn<int>("minor");
    QTest::addColumn<QString>("text");
    QTest::newRow("000") << 0 << 0 << u"v0.0"_s;
    QTest::newRow("001") << 1 << 0 << u"v1.0"_s;
    QTest::newRow("011") << 3 << 0 << u"v2.0"_s;
    QTest::newRow("111 minor 1") << 7 << 1 << u"v3.1"_s;
    QTest::newRow("111 minor 3") << 7 << 3 << u"v3.3"_s;
    QTest::newRow("010 is no revision") << 2 << 0 << u"v0.0"_s;
    QTest::newRow("101 is no revision") << 5 << 2 << u"v0.2"_s;
}

void TestChipInfo::revisions()
{
    QFETCH(int, bits);
    QFETCH(int, minor);
    QFETCH(QString, text);
    EfuseWords efuses;
    efuses.words[3] = (bits & 1) ? 1u << 15 : 0;
    efuses.words[5] = ((bits & 2) ? 1u << 20 : 0) | quint32(minor) << 24;
    efuses.apbCtlDate = (bits & 4) ? 1u << 31 : 0;
    QCOMPARE(esptool::describeChip(efuses).revisionText(), text);
}

void TestChipInfo::features()
{
    EfuseWords efuses = d0wdV3();
    QCOMPARE(
        esptool::describeChip(efuses).features,
        (QStringList{u"Wi-Fi"_s, u"BT"_s, u"dual core"_s, u"240 MHz"_s, u"coding scheme None"_s}));
    efuses.words[3] |= 1u << 0 | 1u << 1;  // single core, no BT
    efuses.words[6] = 1;
    QCOMPARE(esptool::describeChip(efuses).features,
             (QStringList{u"Wi-Fi"_s, u"single core"_s, u"240 MHz"_s, u"coding scheme 3/4"_s}));
    efuses.words[3] |= 1u << 12;  // rated low: 160 MHz
    QVERIFY(esptool::describeChip(efuses).features.contains(u"160 MHz"_s));
}

void TestChipInfo::flashEncryptionCount()
{
    EfuseWords efuses = d0wdV3();
    efuses.words[0] = 0b1u << 20;
    QVERIFY(esptool::describeChip(efuses).flashEncryptionOn);
    efuses.words[0] = 0b11u << 20;
    QVERIFY(!esptool::describeChip(efuses).flashEncryptionOn);
    efuses.words[0] = 0b111u << 20;
    QVERIFY(esptool::describeChip(efuses).flashEncryptionOn);
}

void TestChipInfo::crystal_data()
{
    QTest::addColumn<quint32>("divider");
    QTest::addColumn<int>("mhz");
    QTest::newRow("40 MHz at 115200") << quint32(347) << 40;
    QTest::newRow("26 MHz at 115200") << quint32(226) << 26;
    QTest::newRow("48 MHz at 115200") << quint32(417) << 48;
    QTest::newRow("upper bits ignored") << (quint32(347) | 0xFFF00000u) << 40;
}

void TestChipInfo::crystal()
{
    QFETCH(quint32, divider);
    QFETCH(int, mhz);
    QCOMPARE(esptool::crystalMhz(divider, 115200), mhz);
}

void TestChipInfo::baudCorrection_data()
{
    QTest::addColumn<quint32>("requested");
    QTest::addColumn<quint32>("cali");
    QTest::addColumn<quint32>("efuse4");
    QTest::addColumn<quint32>("sent");
    // A chip whose clock estimate comes out at 38.728125 MHz (cali 972, CK8M trim 102): the
    // captured request for 460800 baud carried 0x0006CEC4.
    QTest::newRow("hardware example")
        << quint32(460800) << quint32(972 << 7) << quint32(102) << quint32(446148);
    // cali 1024 and trim 100 give exactly 40 MHz: the request goes out unchanged.
    for (const quint32 baud : {115200u, 230400u, 460800u, 921600u, 1500000u, 2000000u}) {
        QTest::addRow("exact 40 MHz, %u", baud)
            << baud << quint32(1024 << 7) << quint32(0x00000064) << baud;
    }
    // Exactly 26 MHz counts against a 26 MHz crystal.
    QTest::newRow("exact 26 MHz") << quint32(921600) << quint32(832 << 7) << quint32(80)
                                  << quint32(921600);
    QTest::newRow("bits outside the fields ignored")
        << quint32(460800) << quint32(972 << 7 | 0x7F) << quint32(0xFFFFFF00 | 102)
        << quint32(446148);
    QTest::newRow("no calibration")
        << quint32(921600) << quint32(0) << quint32(100) << quint32(921600);
    QTest::newRow("no trim") << quint32(921600) << quint32(1024 << 7) << quint32(0)
                             << quint32(921600);
    QTest::newRow("largest fields do not overflow")
        << quint32(5000000) << quint32(0xFFFFFF80) << quint32(0xFF) << quint32(0xFFFFFFFF);
}

void TestChipInfo::baudCorrection()
{
    QFETCH(quint32, requested);
    QFETCH(quint32, cali);
    QFETCH(quint32, efuse4);
    QFETCH(quint32, sent);
    QCOMPARE(esptool::correctedBaud(requested, cali, efuse4), sent);
}

void TestChipInfo::spiPins()
{
    QCOMPARE(esptool::spiPinConfig(d0wdV3()), 0u);
    EfuseWords efuses = d0wdV3();
    // CLK 6, Q 7, D 8, CS 11 in word 5; HD 9 in word 3.
    efuses.words[5] |= 6u | 7u << 5 | 8u << 10 | 11u << 15;
    efuses.words[3] |= 9u << 4;
    QCOMPARE(esptool::spiPinConfig(efuses), 9u << 24 | 11u << 18 | 8u << 12 | 7u << 6 | 6u);
}

QTEST_APPLESS_MAIN(TestChipInfo)
#include "tst_chipinfo.moc"
