#include "serial/QtPortLister.h"

#include <QSerialPortInfo>
#include <QTest>

// Built with -DTAVIX_PORT_LISTER=qt. The build machines have no USB adapter; what can go wrong
// here all the same is the port's path: the port manager takes only device paths, so a lister
// that gave it QSerialPortInfo's short names would list nothing on any machine.
class TestQtPortLister : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void listsEachPortByItsDevicePath()
    {
        const std::unique_ptr<tavix::PortLister> lister = tavix::createPlatformPortLister();
        QVERIFY(dynamic_cast<tavix::QtPortLister*>(lister.get()));
        const QList<tavix::SerialPortInfo> ports = lister->listPorts().value();
        QStringList listed;
        for (const tavix::SerialPortInfo& port : ports)
            listed << port.path() + u' ' + port.name();
        QStringList expected;
        for (const QSerialPortInfo& port : QSerialPortInfo::availablePorts())
            expected << port.systemLocation() + u' ' + port.portName();
        listed.sort();
        expected.sort();
        QCOMPARE(listed, expected);
    }
};

QTEST_GUILESS_MAIN(TestQtPortLister)
#include "tst_qtportlister.moc"
