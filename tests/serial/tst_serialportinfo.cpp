#include "serial/SerialPortInfo.h"

#include <QHash>
#include <QSet>
#include <QTest>

using namespace Qt::StringLiterals;

class TestSerialPortInfo : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void displayName_data()
    {
        QTest::addColumn<QString>("vendor");
        QTest::addColumn<QString>("product");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");

        QTest::newRow("vendor and product")
            << u"Silicon Labs"_s << u"CP2102"_s << u"/dev/cu.usbserial-0001"_s
            << u"Silicon Labs CP2102 (/dev/cu.usbserial-0001)"_s;
        QTest::newRow("product only")
            << QString() << u"USB Single Serial"_s << u"/dev/cu.usbmodem1101"_s
            << u"USB Single Serial (/dev/cu.usbmodem1101)"_s;
        QTest::newRow("vendor only") << u"QinHeng Electronics"_s << QString() << u"/dev/ttyUSB0"_s
                                     << u"QinHeng Electronics (/dev/ttyUSB0)"_s;
        QTest::newRow("neither") << QString() << QString() << u"/dev/cu.usbmodem1101"_s
                                 << u"/dev/cu.usbmodem1101"_s;
    }

    void displayName()
    {
        QFETCH(QString, vendor);
        QFETCH(QString, product);
        QFETCH(QString, path);
        QFETCH(QString, expected);

        const SerialPortInfo info(
            {.path = path, .name = u"name"_s, .vendor = vendor, .product = product});
        QCOMPARE(info.displayName(), expected);
    }

    void idIsThePath()
    {
        const SerialPortInfo info({.path = u"/dev/ttyACM0"_s,
                                   .name = u"ttyACM0"_s,
                                   .vendorID = 0x303A,
                                   .productID = 0x1001});
        QCOMPARE(info.id(), u"/dev/ttyACM0"_s);
        QCOMPARE(info.path(), info.id());
    }

    void equalityAndHashFollowThePathOnly()
    {
        const SerialPortInfo earlier({.path = u"/dev/ttyUSB0"_s,
                                      .name = u"ttyUSB0"_s,
                                      .vendor = u"Silicon Labs"_s,
                                      .product = u"CP2102"_s,
                                      .vendorID = 0x10C4,
                                      .productID = 0xEA60});
        const SerialPortInfo rescanned(
            {.path = u"/dev/ttyUSB0"_s, .name = u"Unknown"_s, .vendor = u"Other Vendor"_s});
        const SerialPortInfo other({.path = u"/dev/ttyUSB1"_s,
                                    .name = u"ttyUSB0"_s,
                                    .vendor = u"Silicon Labs"_s,
                                    .product = u"CP2102"_s,
                                    .vendorID = 0x10C4,
                                    .productID = 0xEA60});

        QVERIFY(earlier == rescanned);
        QVERIFY(!(earlier != rescanned));
        QCOMPARE(qHash(earlier, 7), qHash(rescanned, 7));
        QVERIFY(earlier != other);

        const QSet<SerialPortInfo> set{earlier, rescanned, other};
        QCOMPARE(set.size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestSerialPortInfo)
#include "tst_serialportinfo.moc"
