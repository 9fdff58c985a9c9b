#include "serial/QtPortLister.h"

#include <QSerialPortInfo>
#include <QTest>

// Built with -DTAVIX_PORT_LISTER=qt. The build machines have no USB adapter, so this proves little
// beyond building and linking, and that the other platforms tell of no adapter without a port
// and announce no devices: their port list follows the refresh timer alone.
class TestQtPortLister : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void listsWhatQSerialPortInfoKnowsAndNothingMore()
    {
        const std::unique_ptr<PortLister> lister = createPlatformPortLister();
        QVERIFY(dynamic_cast<QtPortLister*>(lister.get()));
        QCOMPARE(lister->listPorts().value().size(), QSerialPortInfo::availablePorts().size());
        QVERIFY(lister->listPortlessAdapters().isEmpty());
        QVERIFY(!lister->watchPorts());
    }
};

QTEST_GUILESS_MAIN(TestQtPortLister)
#include "tst_qtportlister.moc"
