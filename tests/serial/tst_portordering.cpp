#include "serial/PortOrdering.h"

#include <QTest>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

SerialPortInfo port(const QString& path, const QString& vendor = {})
{
    return SerialPortInfo(path, path.section(u'/', -1), vendor, {}, std::nullopt, std::nullopt);
}

QStringList pathsOf(const QList<SerialPortInfo>& ports)
{
    QStringList paths;
    for (const SerialPortInfo& info : ports)
        paths.append(info.path());
    return paths;
}

}  // namespace

// Registered once per locale (C.UTF-8 and en_US.UTF-8): the order must not depend on it.
class TestPortOrdering : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void runsInTheLocaleItWasRegisteredFor()
    {
        const QByteArray lang = qgetenv("LANG");
        if (lang.startsWith("C."))
            QCOMPARE(QLocale().language(), QLocale::C);
        else if (lang.startsWith("en_US"))
            QCOMPARE(QLocale().language(), QLocale::English);
        else
            QSKIP("LANG is neither C.UTF-8 nor en_US.UTF-8");
    }

    void pathsCompareAscending_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after");

        QTest::newRow("digit runs by value")
            << u"/dev/cu.usbserial-2"_s << u"/dev/cu.usbserial-10"_s;
        QTest::newRow("long digit runs") << u"/dev/cu.usbmodem2101"_s << u"/dev/cu.usbmodem11101"_s;
        QTest::newRow("letters without case")
            << u"/dev/cu.SLAB_USBtoUART"_s << u"/dev/cu.usbmodem2101"_s;
        QTest::newRow("linux adapters") << u"/dev/ttyUSB2"_s << u"/dev/ttyUSB10"_s;
        QTest::newRow("linux acm") << u"/dev/ttyACM9"_s << u"/dev/ttyACM10"_s;
        QTest::newRow("lower case before upper letter") << u"/dev/ttyacm0"_s << u"/dev/ttyUSB0"_s;
        QTest::newRow("prefix first") << u"/dev/ttyUSB"_s << u"/dev/ttyUSB0"_s;
    }

    void pathsCompareAscending()
    {
        QFETCH(QString, before);
        QFETCH(QString, after);

        const PathCollator collator;
        QVERIFY(collator.compare(before, after) < 0);
        QVERIFY(collator.compare(after, before) > 0);
        QCOMPARE(collator.compare(before, before), 0);
    }

    void caseAloneDoesNotOrder()
    {
        QCOMPARE(PathCollator().compare(u"/dev/ttyUSB0", u"/dev/ttyusb0"), 0);
    }

    void sortsWholeLists()
    {
        QList<SerialPortInfo> ports{port(u"/dev/ttyUSB10"_s), port(u"/dev/ttyACM1"_s),
                                    port(u"/dev/ttyUSB2"_s),  port(u"/dev/ttyUSB0"_s),
                                    port(u"/dev/ttyACM0"_s),  port(u"/dev/ttyUSB100"_s)};
        sortPortsByPath(ports);
        QCOMPARE(pathsOf(ports),
                 (QStringList{u"/dev/ttyACM0"_s, u"/dev/ttyACM1"_s, u"/dev/ttyUSB0"_s,
                              u"/dev/ttyUSB2"_s, u"/dev/ttyUSB10"_s, u"/dev/ttyUSB100"_s}));
    }

    void sortsMacPathsLikeTheFileBrowser()
    {
        QList<SerialPortInfo> ports{port(u"/dev/cu.usbmodem11101"_s),
                                    port(u"/dev/cu.usbserial-10"_s),
                                    port(u"/dev/cu.usbmodem2101"_s), port(u"/dev/cu.usbserial-2"_s),
                                    port(u"/dev/cu.SLAB_USBtoUART"_s)};
        sortPortsByPath(ports);
        QCOMPARE(pathsOf(ports),
                 (QStringList{u"/dev/cu.SLAB_USBtoUART"_s, u"/dev/cu.usbmodem2101"_s,
                              u"/dev/cu.usbmodem11101"_s, u"/dev/cu.usbserial-2"_s,
                              u"/dev/cu.usbserial-10"_s}));
    }

    void sortIsStable()
    {
        const QList<SerialPortInfo> enumerated{
            port(u"/dev/ttyUSB1"_s, u"first"_s), port(u"/dev/ttyusb0"_s, u"second"_s),
            port(u"/dev/ttyUSB0"_s, u"third"_s), port(u"/dev/ttyUSB0"_s, u"fourth"_s)};

        QList<SerialPortInfo> sorted = enumerated;
        sortPortsByPath(sorted);
        QStringList vendors;
        for (const SerialPortInfo& info : std::as_const(sorted))
            vendors.append(info.vendor());
        QCOMPARE(vendors, (QStringList{u"second"_s, u"third"_s, u"fourth"_s, u"first"_s}));

        QList<SerialPortInfo> reversed(enumerated.crbegin(), enumerated.crend());
        sortPortsByPath(reversed);
        vendors.clear();
        for (const SerialPortInfo& info : std::as_const(reversed))
            vendors.append(info.vendor());
        QCOMPARE(vendors, (QStringList{u"fourth"_s, u"third"_s, u"second"_s, u"first"_s}));
    }
};

QTEST_GUILESS_MAIN(TestPortOrdering)
#include "tst_portordering.moc"
