#include "serial/PathCollator.h"

#include <QTest>

using namespace Qt::StringLiterals;

using tavix::SerialPortInfo;

// Registered once per locale (C.UTF-8 and en_US.UTF-8): the order must not depend on it.
class TestPathCollator : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void runsInTheLocaleItWasRegisteredFor()
    {
        const QByteArray lang = qgetenv("LANG");
        if (!lang.startsWith("C.") && !lang.startsWith("en_US"))
            QSKIP("LANG is neither C.UTF-8 nor en_US.UTF-8");
        QCOMPARE(QLocale().language(), lang.startsWith("C.") ? QLocale::C : QLocale::English);
    }

    void sortsLikeFileBrowsers_data()
    {
        QTest::addColumn<QStringList>("sorted");
        QTest::newRow("digit runs by value")
            << QStringList{u"/dev/ttyACM9"_s, u"/dev/ttyACM10"_s, u"/dev/ttyUSB"_s,
                           u"/dev/ttyUSB2"_s, u"/dev/ttyUSB10"_s, u"/dev/ttyUSB100"_s};
        QTest::newRow("letters without case") << QStringList{u"/dev/cu.SLAB_USBtoUART"_s,
                                                             u"/dev/cu.usbmodem2101"_s,
                                                             u"/dev/cu.usbmodem11101"_s,
                                                             u"/dev/cu.usbserial-2"_s,
                                                             u"/dev/cu.usbserial-10"_s,
                                                             u"/dev/ttyacm0"_s,
                                                             u"/dev/ttyUSB0"_s};
    }
    void sortsLikeFileBrowsers()
    {
        QFETCH(QStringList, sorted);
        QList<SerialPortInfo> ports;
        for (qsizetype i = sorted.size(); i-- > 0;)
            ports.append(SerialPortInfo({.path = sorted.at(i)}));
        tavix::sortPortsByPath(ports);
        QStringList paths;
        for (const SerialPortInfo& port : std::as_const(ports))
            paths.append(port.path());
        QCOMPARE(paths, sorted);
    }

    // Paths that differ in case alone compare the same and keep the order they came in.
    void isStable()
    {
        const QStringList paths{u"/dev/ttyUSB1"_s, u"/dev/ttyusb0"_s, u"/dev/ttyUSB0"_s};
        QList<SerialPortInfo> ports;
        // Long enough that the sort cannot fall back on insertion sort, which is stable anyway.
        for (int index = 0; index < 60; ++index)
            ports.append(SerialPortInfo(
                {.path = paths.at((index * 7) % 3), .vendor = QString::number(index)}));
        tavix::sortPortsByPath(ports);
        for (qsizetype i = 1; i < ports.size(); ++i) {
            const SerialPortInfo& before = ports.at(i - 1);
            const SerialPortInfo& after = ports.at(i);
            if (before.path().compare(after.path(), Qt::CaseInsensitive) == 0)
                QVERIFY(before.vendor().toInt() < after.vendor().toInt());
            else
                QVERIFY(before.path().endsWith(u'0') && after.path().endsWith(u'1'));
        }
    }
};

QTEST_GUILESS_MAIN(TestPathCollator)
#include "tst_pathcollator.moc"
