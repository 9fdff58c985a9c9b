#include "serial/QtPortLister.h"

#include <QSerialPortInfo>
#include <QTest>

// Built with -DTAVIX_PORT_LISTER=qt. The build machines have no USB adapter, so this proves little
// beyond building and linking: whatever QSerialPortInfo knows comes out under the same names.
class TestQtPortLister : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void reportsWhatQSerialPortInfoKnows()
    {
        QVERIFY(dynamic_cast<QtPortLister*>(createPlatformPortLister().get()));
        const QList<QSerialPortInfo> expected = QSerialPortInfo::availablePorts();
        const QList<SerialPortInfo> ports = QtPortLister().listPorts().value();
        QCOMPARE(ports.size(), expected.size());
        for (qsizetype i = 0; i < ports.size(); ++i) {
            const QSerialPortInfo& info = expected.at(i);
            QCOMPARE(ports.at(i).path(), info.systemLocation());
            QCOMPARE(ports.at(i).name(), info.portName());
            QCOMPARE(ports.at(i).vendor(), info.manufacturer());
            QCOMPARE(ports.at(i).product(), info.description());
            QCOMPARE(ports.at(i).vendorID().value_or(-1),
                     info.hasVendorIdentifier() ? info.vendorIdentifier() : -1);
            QCOMPARE(ports.at(i).productID().value_or(-1),
                     info.hasProductIdentifier() ? info.productIdentifier() : -1);
        }
    }
};

QTEST_GUILESS_MAIN(TestQtPortLister)
#include "tst_qtportlister.moc"
