#include "serial/UdevProperties.h"

#include <QTest>

using namespace Qt::StringLiterals;

using From = UdevPropertySource::From;
Q_DECLARE_METATYPE(UdevEntryKind)
Q_DECLARE_METATYPE(UdevPropertySource::From)

class TestUdevProperties : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void entryKinds_data()
    {
        QTest::addColumn<QByteArray>("subsystem");
        QTest::addColumn<QByteArray>("devtype");
        QTest::addColumn<UdevEntryKind>("kind");

        QTest::newRow("tty") << "tty"_ba << QByteArray() << UdevEntryKind::serialDevice;
        QTest::newRow("usb device") << "usb"_ba
                                    << "usb_device"_ba << UdevEntryKind::usbDevice;
        QTest::newRow("usb interface") << "usb"_ba
                                       << "usb_interface"_ba << UdevEntryKind::usbInterface;
        QTest::newRow("usb-serial port") << "usb-serial"_ba << QByteArray() << UdevEntryKind::other;
        QTest::newRow("usb without type") << "usb"_ba << QByteArray() << UdevEntryKind::other;
        QTest::newRow("pci controller") << "pci"_ba << QByteArray() << UdevEntryKind::other;
        QTest::newRow("serial-base port") << "serial-base"_ba
                                          << "port"_ba << UdevEntryKind::other;
        QTest::newRow("no subsystem") << QByteArray() << QByteArray() << UdevEntryKind::other;
    }

    void entryKinds()
    {
        QFETCH(QByteArray, subsystem);
        QFETCH(QByteArray, devtype);
        QFETCH(UdevEntryKind, kind);

        QCOMPARE(udevEntryKind({.subsystem = subsystem, .devtype = devtype}), kind);
    }

    void hubs_data()
    {
        QTest::addColumn<QByteArray>("deviceClass");
        QTest::addColumn<QByteArray>("parentSubsystem");
        QTest::addColumn<bool>("hub");

        QTest::newRow("adapter on a hub") << "00"_ba
                                          << "usb"_ba << false;
        QTest::newRow("composite adapter") << "ef"_ba
                                           << "usb"_ba << false;
        QTest::newRow("vendor-specific adapter") << "ff"_ba
                                                 << "usb"_ba << false;
        QTest::newRow("external hub") << "09"_ba
                                      << "usb"_ba << true;
        QTest::newRow("attribute with line feed") << "09\n"_ba
                                                  << "usb"_ba << true;
        QTest::newRow("root hub") << "09"_ba
                                  << "pci"_ba << true;
        QTest::newRow("below a host controller") << "00"_ba
                                                 << "platform"_ba << true;
        QTest::newRow("no parent") << "00"_ba << QByteArray() << true;
    }

    void hubs()
    {
        QFETCH(QByteArray, deviceClass);
        QFETCH(QByteArray, parentSubsystem);
        QFETCH(bool, hub);

        QCOMPARE(isUsbHub(deviceClass, parentSubsystem), hub);
    }

    void propertySources_data()
    {
        QTest::addColumn<UdevEntryKind>("kind");
        QTest::addColumn<QString>("key");
        QTest::addColumn<From>("from");
        QTest::addColumn<QByteArray>("name");

        const auto row = [](UdevEntryKind kind, const QString& key, From from,
                            const QByteArray& name) {
            const QByteArray tag = QByteArray::number(int(kind)) + ' ' + key.toUtf8();
            QTest::newRow(tag.constData()) << kind << key << from << name;
        };
        using Kind = UdevEntryKind;

        row(Kind::serialDevice, u"IOCalloutDevice"_s, From::deviceNode, {});
        row(Kind::serialDevice, u"IOTTYDevice"_s, From::kernelName, {});
        row(Kind::serialDevice, u"idVendor"_s, From::nothing, {});
        row(Kind::serialDevice, u"USB Vendor Name"_s, From::nothing, {});

        row(Kind::usbDevice, u"USB Vendor Name"_s, From::textAttribute, "manufacturer");
        row(Kind::usbDevice, u"USB Product Name"_s, From::textAttribute, "product");
        row(Kind::usbDevice, u"kUSBVendorString"_s, From::hardwareDatabase,
            "ID_VENDOR_FROM_DATABASE");
        row(Kind::usbDevice, u"kUSBProductString"_s, From::hardwareDatabase,
            "ID_MODEL_FROM_DATABASE");
        row(Kind::usbDevice, u"idVendor"_s, From::hexAttribute, "idVendor");
        row(Kind::usbDevice, u"idProduct"_s, From::hexAttribute, "idProduct");
        row(Kind::usbDevice, u"Product Name"_s, From::nothing, {});
        row(Kind::usbDevice, u"USB Vendor ID"_s, From::nothing, {});
        row(Kind::usbDevice, u"USB Product ID"_s, From::nothing, {});
        row(Kind::usbDevice, u"IOCalloutDevice"_s, From::nothing, {});

        // A CH340 without a manufacturer string must not borrow "Linux 6.1 xhci-hcd".
        row(Kind::usbHub, u"USB Vendor Name"_s, From::nothing, {});
        row(Kind::usbHub, u"USB Product Name"_s, From::nothing, {});
        row(Kind::usbHub, u"kUSBVendorString"_s, From::nothing, {});
        row(Kind::usbHub, u"kUSBProductString"_s, From::nothing, {});
        row(Kind::usbHub, u"idVendor"_s, From::hexAttribute, "idVendor");
        row(Kind::usbHub, u"idProduct"_s, From::hexAttribute, "idProduct");

        row(Kind::usbInterface, u"Product Name"_s, From::textAttribute, "interface");
        row(Kind::usbInterface, u"USB Product Name"_s, From::nothing, {});
        row(Kind::usbInterface, u"idVendor"_s, From::nothing, {});

        row(Kind::other, u"IOCalloutDevice"_s, From::nothing, {});
        row(Kind::other, u"USB Vendor Name"_s, From::nothing, {});
        row(Kind::other, u"idVendor"_s, From::nothing, {});
        row(Kind::other, u"Product Name"_s, From::nothing, {});
    }

    void propertySources()
    {
        QFETCH(UdevEntryKind, kind);
        QFETCH(QString, key);
        QFETCH(From, from);
        QFETCH(QByteArray, name);

        const UdevPropertySource source = udevPropertySource(kind, key);
        QCOMPARE(source.from, from);
        QCOMPARE(QByteArray(source.name), name);
    }

    void hexAttributes_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("found");
        QTest::addColumn<qint64>("value");

        QTest::newRow("wch") << "1a86"_ba << true << qint64(6790);
        QTest::newRow("upper case") << "10C4"_ba << true << qint64(4292);
        QTest::newRow("line feed") << "303a\n"_ba << true << qint64(12346);
        QTest::newRow("short") << "403"_ba << true << qint64(1027);
        QTest::newRow("empty") << QByteArray() << false << qint64(0);
        QTest::newRow("not hex") << "xyz1"_ba << false << qint64(0);
        QTest::newRow("prefixed") << "0x10"_ba << false << qint64(0);
        QTest::newRow("too long") << "12345"_ba << false << qint64(0);
    }

    void hexAttributes()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, found);
        QFETCH(qint64, value);

        const std::optional<qint64> parsed = parseHexAttribute(text);
        QCOMPARE(parsed.has_value(), found);
        if (found)
            QCOMPARE(*parsed, value);
    }

    void hardwareDatabaseModalias()
    {
        QCOMPARE(usbHardwareDatabaseModalias(0x1a86, 0x7523), "usb:v1A86p7523"_ba);
        QCOMPARE(usbHardwareDatabaseModalias(0x403, 0x6001), "usb:v0403p6001"_ba);
        QCOMPARE(usbHardwareDatabaseModalias(0x303a, 0x1001), "usb:v303Ap1001"_ba);
    }
};

QTEST_GUILESS_MAIN(TestUdevProperties)
#include "tst_udevproperties.moc"
