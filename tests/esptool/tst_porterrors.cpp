#include "link/PortErrors.h"

#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using esptool::ErrorKind;
using esptool::PortProbe;

class TestPortErrors : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void openFailures_data();
    void openFailures();
    void probeReadsTheNode();
    void lostLinkMessages_data();
    void lostLinkMessages();
};

void TestPortErrors::openFailures_data()
{
    QTest::addColumn<QSerialPort::SerialPortError>("error");
    QTest::addColumn<PortProbe>("probe");
    QTest::addColumn<ErrorKind>("kind");
    QTest::addColumn<QString>("hintPart");

    QTest::newRow("node missing") << QSerialPort::DeviceNotFoundError << PortProbe{}
                                  << ErrorKind::portNotFound << u"plugged in"_s;
    QTest::newRow("missing, whatever Qt says") << QSerialPort::PermissionError << PortProbe{}
                                               << ErrorKind::portNotFound << u"plugged in"_s;
    QTest::newRow("no access, dialout")
        << QSerialPort::PermissionError << PortProbe{true, false, u"dialout"_s}
        << ErrorKind::permissionDenied << u"group 'dialout'"_s;
    QTest::newRow("no access, uucp names uucp")
        << QSerialPort::PermissionError << PortProbe{true, false, u"uucp"_s}
        << ErrorKind::permissionDenied << u"usermod -aG uucp"_s;
    QTest::newRow("no access, root group")
        << QSerialPort::PermissionError << PortProbe{true, false, u"root"_s}
        << ErrorKind::permissionDenied << u"administrator"_s;
    QTest::newRow("accessible but locked")
        << QSerialPort::PermissionError << PortProbe{true, true, u"dialout"_s}
        << ErrorKind::portBusy << u"Close"_s;
    QTest::newRow("other failure") << QSerialPort::OpenError << PortProbe{true, true, {}}
                                   << ErrorKind::portFailure << QString();
}

void TestPortErrors::openFailures()
{
    QFETCH(QSerialPort::SerialPortError, error);
    QFETCH(PortProbe, probe);
    QFETCH(ErrorKind, kind);
    QFETCH(QString, hintPart);
    const esptool::FlasherError failure =
        esptool::openFailure(u"/dev/ttyUSB0"_s, error, u"some text"_s, probe);
    QCOMPARE(failure.kind, kind);
    QVERIFY(failure.message.contains(u"/dev/ttyUSB0"_s));
    QVERIFY2(failure.hint.contains(hintPart), qPrintable(failure.hint));
    if (kind == ErrorKind::permissionDenied)
        QVERIFY(failure.hint.contains(u"log out and in again"_s));
    QVERIFY(!failure.line().contains(u'\n'));
}

void TestPortErrors::probeReadsTheNode()
{
    QVERIFY(!esptool::probePort(u"/dev/no-such-tty-here"_s).exists);
    // /dev/null is readable and writable by everyone and owned by a named group.
    const PortProbe null = esptool::probePort(u"/dev/null"_s);
    QVERIFY(null.exists);
    QVERIFY(null.accessible);
    QVERIFY(!null.groupName.isEmpty());
}

void TestPortErrors::lostLinkMessages_data()
{
    QTest::addColumn<QSerialPort::SerialPortError>("error");
    QTest::addColumn<QString>("words");
    QTest::newRow("resource") << QSerialPort::ResourceError << u"went away"_s;
    QTest::newRow("read") << QSerialPort::ReadError << u"reading"_s;
    QTest::newRow("write") << QSerialPort::WriteError << u"writing"_s;
}

void TestPortErrors::lostLinkMessages()
{
    QFETCH(QSerialPort::SerialPortError, error);
    QFETCH(QString, words);
    const esptool::FlasherError lost = esptool::linkLost(u"/dev/ttyUSB0"_s, error);
    QCOMPARE(lost.kind, ErrorKind::linkLost);
    QVERIFY(lost.message.contains(words));
    QVERIFY(lost.message.contains(u"lost"_s));
}

QTEST_APPLESS_MAIN(TestPortErrors)
#include "tst_porterrors.moc"
