#include "serial/PortNaming.h"

#include <QTest>

using namespace Qt::StringLiterals;

using Scheme = PortNaming::Scheme;
Q_DECLARE_METATYPE(PortNaming::Scheme)

class TestPortNaming : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void buildUsesItsPlatformScheme()
    {
#if defined(Q_OS_MACOS)
        QCOMPARE(PortNaming().scheme(), Scheme::macOS);
#else
        QCOMPARE(PortNaming().scheme(), Scheme::Linux);
#endif
    }

    void calloutPaths_data()
    {
        QTest::addColumn<Scheme>("scheme");
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("callout");

        QTest::newRow("linux adapter") << Scheme::Linux << u"/dev/ttyUSB0"_s << true;
        QTest::newRow("linux acm") << Scheme::Linux << u"/dev/ttyACM0"_s << true;
        QTest::newRow("linux on-board port") << Scheme::Linux << u"/dev/ttyS0"_s << true;
        QTest::newRow("linux outside /dev") << Scheme::Linux << u"/run/ttyUSB0"_s << false;
        QTest::newRow("linux sysfs path") << Scheme::Linux << u"/sys/class/tty/ttyUSB0"_s << false;
        QTest::newRow("linux bare name") << Scheme::Linux << u"ttyUSB0"_s << false;
        QTest::newRow("linux /dev itself") << Scheme::Linux << u"/dev"_s << false;
        QTest::newRow("linux takes mac paths")
            << Scheme::Linux << u"/dev/cu.usbserial-0001"_s << true;

        QTest::newRow("mac callout") << Scheme::macOS << u"/dev/cu.usbserial-0001"_s << true;
        QTest::newRow("mac dial-in") << Scheme::macOS << u"/dev/tty.usbserial-0001"_s << false;
        QTest::newRow("mac rejects linux nodes") << Scheme::macOS << u"/dev/ttyUSB0"_s << false;
        QTest::newRow("mac marker anywhere") << Scheme::macOS << u"/private/cu.x"_s << true;
        QTest::newRow("mac marker is case-sensitive") << Scheme::macOS << u"/dev/CU.x"_s << false;
    }

    void calloutPaths()
    {
        QFETCH(Scheme, scheme);
        QFETCH(QString, path);
        QFETCH(bool, callout);

        QCOMPARE(PortNaming(scheme).isCalloutPath(path), callout);
    }

    void devEntries_data()
    {
        QTest::addColumn<Scheme>("scheme");
        QTest::addColumn<QString>("entry");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QString>("name");

        QTest::newRow("linux usb adapter") << Scheme::Linux << u"ttyUSB0"_s << true << u"ttyUSB0"_s;
        QTest::newRow("linux acm") << Scheme::Linux << u"ttyACM12"_s << true << u"ttyACM12"_s;
        QTest::newRow("linux vendor driver")
            << Scheme::Linux << u"ttyCH341USB0"_s << true << u"ttyCH341USB0"_s;
        QTest::newRow("linux on-board port") << Scheme::Linux << u"ttyS0"_s << false << QString();
        QTest::newRow("linux console") << Scheme::Linux << u"tty0"_s << false << QString();
        QTest::newRow("linux prefix is case-sensitive")
            << Scheme::Linux << u"TTYUSB0"_s << false << QString();
        QTest::newRow("linux keyword without prefix")
            << Scheme::Linux << u"usbserial-0001"_s << false << QString();
        QTest::newRow("linux ignores mac prefix")
            << Scheme::Linux << u"cu.usbmodem1101"_s << false << QString();

        QTest::newRow("mac modem")
            << Scheme::macOS << u"cu.usbmodem1101"_s << true << u"usbmodem1101"_s;
        QTest::newRow("mac dial-in")
            << Scheme::macOS << u"tty.usbmodem1101"_s << false << QString();
        QTest::newRow("mac no keyword")
            << Scheme::macOS << u"cu.Bluetooth-Incoming-Port"_s << false << QString();
        QTest::newRow("mac keyword in any case")
            << Scheme::macOS << u"cu.SLAB_USBtoUART"_s << true << u"SLAB_USBtoUART"_s;
        QTest::newRow("mac serial")
            << Scheme::macOS << u"cu.usbserial-1410"_s << true << u"usbserial-1410"_s;
        QTest::newRow("mac has no linux keywords")
            << Scheme::macOS << u"cu.ttyUSB0"_s << false << QString();
    }

    void devEntries()
    {
        QFETCH(Scheme, scheme);
        QFETCH(QString, entry);
        QFETCH(bool, accepted);
        QFETCH(QString, name);

        const PortNaming naming(scheme);
        QCOMPARE(naming.acceptsDevEntry(entry), accepted);
        if (accepted)
            QCOMPARE(naming.portNameForDevEntry(entry), name);
    }
};

QTEST_GUILESS_MAIN(TestPortNaming)
#include "tst_portnaming.moc"
