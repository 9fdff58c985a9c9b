#include "serial/PortOrdering.h"

#include <QTest>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

SerialPortInfo port(const QString& path, const QString& vendor = {})
{
    return SerialPortInfo({.path = path, .name = path.section(u'/', -1), .vendor = vendor});
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
        // Long enough that the sort cannot fall back on insertion sort, which is stable anyway.
        const QStringList paths{u"/dev/ttyUSB1"_s, u"/dev/ttyusb0"_s, u"/dev/ttyUSB0"_s};
        QList<SerialPortInfo> ports;
        for (int index = 0; index < 60; ++index)
            ports.append(port(paths.at((index * 7) % 3), QString::number(index)));

        sortPortsByPath(ports);

        QCOMPARE(ports.size(), 60);
        for (qsizetype i = 1; i < ports.size(); ++i) {
            const SerialPortInfo& before = ports.at(i - 1);
            const SerialPortInfo& after = ports.at(i);
            const bool sameGroup = before.path().compare(after.path(), Qt::CaseInsensitive) == 0;
            if (sameGroup)
                QVERIFY2(before.vendor().toInt() < after.vendor().toInt(),
                         qPrintable(before.vendor() + u" / "_s + after.vendor()));
            else
                QVERIFY(before.path().endsWith(u'0') && after.path().endsWith(u'1'));
        }
    }
};

QTEST_GUILESS_MAIN(TestPortOrdering)
#include "tst_portordering.moc"
