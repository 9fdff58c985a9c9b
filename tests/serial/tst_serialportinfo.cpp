#include "serial/SerialPortInfo.h"

#include <QSet>
#include <QTest>

using namespace Qt::StringLiterals;

using tavix::SerialPortInfo;

class TestSerialPortInfo : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void displayName_data()
    {
        QTest::addColumn<QString>("vendor");
        QTest::addColumn<QString>("product");
        QTest::addColumn<QString>("expected");

        QTest::newRow("vendor and product")
            << u"Silicon Labs"_s << u"CP2102"_s << u"Silicon Labs CP2102 (/dev/ttyUSB0)"_s;
        QTest::newRow("product only")
            << QString() << u"USB Single Serial"_s << u"USB Single Serial (/dev/ttyUSB0)"_s;
        QTest::newRow("vendor only")
            << u"QinHeng Electronics"_s << QString() << u"QinHeng Electronics (/dev/ttyUSB0)"_s;
        QTest::newRow("neither") << QString() << QString() << u"/dev/ttyUSB0"_s;
    }
    void displayName()
    {
        QFETCH(QString, vendor);
        QFETCH(QString, product);
        QFETCH(QString, expected);
        const SerialPortInfo info({.path = u"/dev/ttyUSB0"_s,
                                   .name = u"ttyUSB0"_s,
                                   .vendor = vendor,
                                   .product = product,
                                   .vendorID = 0x10C4});
        QCOMPARE(info.displayName(), expected);
    }

    // The path is the identity, so that a port re-scanned with new details keeps its selection.
    void isIdentifiedByItsPath()
    {
        const SerialPortInfo earlier(
            {.path = u"/dev/ttyUSB0"_s, .vendor = u"Silicon Labs"_s, .vendorID = 0x10C4});
        const SerialPortInfo rescanned({.path = u"/dev/ttyUSB0"_s, .name = u"Unknown"_s});
        const SerialPortInfo other(
            {.path = u"/dev/ttyUSB1"_s, .vendor = u"Silicon Labs"_s, .vendorID = 0x10C4});
        QCOMPARE(rescanned.id(), u"/dev/ttyUSB0"_s);
        QVERIFY(earlier == rescanned && !(earlier != rescanned) && earlier != other);
        QCOMPARE(qHash(earlier, 7), qHash(rescanned, 7));
        QCOMPARE((QSet<SerialPortInfo>{earlier, rescanned, other}).size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestSerialPortInfo)
#include "tst_serialportinfo.moc"
