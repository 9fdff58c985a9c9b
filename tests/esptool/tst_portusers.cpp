#include "link/BusyPort.h"
#include "link/PortUsers.h"
#include "support/FakeProcfs.h"
#include "support/simboard/SimulatedBoard.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;
using esptool::ErrorKind;
using esptool::FlasherError;
using esptool::PortUser;
using esptool::PortUsers;

using SharedProcfs = std::shared_ptr<FakeProcfs>;
Q_DECLARE_METATYPE(SharedProcfs)
Q_DECLARE_METATYPE(FlasherError)

// The processes that use a port, found in a /proc of the test's making around a file that
// stands for the port, and what the flasher then says; and once with real processes on a
// simulated board.
class TestPortUsers : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dev;
    // A pseudo-terminal's slave, /dev/pts/3, and a CDC-ACM port.
    QString port(const QString& name = u"pts/3"_s) const { return m_dev.filePath(name); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(QDir(m_dev.path()).mkpath(u"pts"_s));
        for (const QString& name : {u"pts/3"_s, u"ttyACM0"_s, u"other"_s}) {
            QFile file(port(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
    }

    void findsWhoUsesThePort_data()
    {
        QTest::addColumn<SharedProcfs>("procfs");
        QTest::addColumn<QList<PortUser>>("users");

        const auto procfs = [](const std::function<void(FakeProcfs&)>& fill) {
            auto made = std::make_shared<FakeProcfs>();
            made->addProcess(1, "systemd");
            fill(*made);
            return made;
        };
        const QString pts3 = port();
        QTest::newRow("a serial monitor that has it open") << procfs([&](FakeProcfs& p) {
            p.addProcess(4242, "screen");
            p.addOpenFile(4242, port(u"other"_s));
            p.addOpenFile(4242, pts3);
        }) << QList<PortUser>{{4242, u"screen"_s, false}};
        QTest::newRow("another user's lock, its open files hidden") << procfs([&](FakeProcfs& p) {
            p.addProcess(1200, "minicom");
            p.addLock(1200, pts3);
        }) << QList<PortUser>{{1200, u"minicom"_s, true}};
        QTest::newRow("lock holders first, each process once") << procfs([&](FakeProcfs& p) {
            p.addProcess(4242, "screen");
            p.addOpenFile(4242, pts3);
            p.addProcess(5000, "esptool_amd64");
            p.addOpenFile(5000, pts3);
            p.addLock(5000, pts3);
        }) << QList<PortUser>{{5000, u"esptool_amd64"_s, true}, {4242, u"screen"_s, false}};
        QTest::newRow("a name the kernel cut, completed from the command line")
            << procfs([&](FakeProcfs& p) {
                   p.addProcess(77, "arduino-serial-", "/opt/arduino-serial-monitor\0-p\0"_ba);
                   p.addOpenFile(77, pts3);
               })
            << QList<PortUser>{{77, u"arduino-serial-monitor"_s, false}};
        QTest::newRow("the far end of the pseudo-terminal is the board, no user")
            << procfs([&](FakeProcfs& p) {
                   p.addProcess(900, "esp32-sim");
                   p.addOpenFile(900, u"/dev/ptmx"_s, 3);
                   p.addOpenFile(900, pts3);
               })
            << QList<PortUser>();
        QTest::newRow("the far end of another pseudo-terminal is a user")
            << procfs([&](FakeProcfs& p) {
                   p.addProcess(900, "socat");
                   p.addOpenFile(900, u"/dev/ptmx"_s, 4);
                   p.addOpenFile(900, pts3);
               })
            << QList<PortUser>{{900, u"socat"_s, false}};
    }
    void findsWhoUsesThePort()
    {
        QFETCH(SharedProcfs, procfs);
        QFETCH(QList<PortUser>, users);
        QCOMPARE(PortUsers(procfs->root()).of(port()), users);
    }

    // An error once the port's other users are known: what its line says, or still says.
    void namesThemInErrors_data()
    {
        QTest::addColumn<FlasherError>("error");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("program");
        QTest::addColumn<QString>("opened");  // the file the program has open
        QTest::addColumn<QString>("says");

        const QString pts3 = port();
        const QString acm0 = port(u"ttyACM0"_s);
        const QString other = port(u"other"_s);
        const auto busy = [](const QString& path) { return esptool::busyPort(path, {}); };
        QTest::newRow("busy, its holder seen")
            << busy(pts3) << pts3 << "screen"_ba << pts3
            << u"another program (screen, process 4242). Close any"_s;
        QTest::newRow("busy, its holder unseen: the words of before")
            << busy(acm0) << acm0 << "bash"_ba << other << u"another program. Close any"_s;
        QTest::newRow("a busy ttyACM while ModemManager runs")
            << busy(acm0) << acm0 << "ModemManager"_ba << other
            << u"and try again. ModemManager, which probes new ttyACM ports"_s;
        QTest::newRow("no answer while another program had the port")
            << FlasherError{ErrorKind::noAnswer, u"No answer."_s, {}} << pts3 << "screen"_ba << pts3
            << u"No answer. Another program has the port open (screen, process 4242)"_s;
        QTest::newRow("a missing file, before the port was open")
            << FlasherError{ErrorKind::fileMissing, u"No file."_s, {}} << pts3 << "screen"_ba
            << pts3 << u"Error: No file.\n"_s;
    }
    void namesThemInErrors()
    {
        QFETCH(FlasherError, error);
        QFETCH(QString, path);
        QFETCH(QByteArray, program);
        QFETCH(QString, opened);
        QFETCH(QString, says);
        FakeProcfs procfs;
        procfs.addProcess(4242, program);
        procfs.addOpenFile(4242, opened);
        const QString line = esptool::withPortUsers(error, path, PortUsers(procfs.root())).line();
        QVERIFY2((line + u'\n').contains(says), qPrintable(line));
    }

    // Real programs on a simulated board's port: one that merely has it open is named in a
    // warning before connecting, one that locks it in the refusal.
    void warnsOrRefusesNamingThem_data()
    {
        QTest::addColumn<QStringList>("holder");  // {} stands for the port
        QTest::addColumn<QString>("says");        // %1 the port, %2 the holder's process ID
        QTest::newRow("open, as screen has it")
            << QStringList{u"-c"_s, u"exec 3<>\"$0\"; exec sleep 60"_s}
            << u"Warning: Serial port %1 is also open in another program (sleep, process %2)"_s;
        QTest::newRow("locked")
            << QStringList{u"-c"_s, u"exec flock -o \"$0\" cat"_s}
            << u"Error: Serial port %1 is in use by another program (flock, process %2"_s;
    }
    void warnsOrRefusesNamingThem()
    {
        QFETCH(QStringList, holder);
        QFETCH(QString, says);
        const QTemporaryDir folder;
        SimulatedBoard board(folder.path());
        QVERIFY(board.start());
        QProcess holding;
        holding.start(u"bash"_s, holder << board.port());
        QVERIFY(holding.waitForStarted());
        const qint64 holderId = holding.processId();
        QTRY_VERIFY(!PortUsers().of(board.port()).isEmpty());
        QProcess flasher;
        flasher.setProcessChannelMode(QProcess::MergedChannels);
        flasher.start(QStringLiteral(ESPTOOL_BINARY),
                      {u"--port"_s, board.port(), u"--baud"_s, u"115200"_s, u"erase-flash"_s});
        QVERIFY(flasher.waitForFinished(60000));
        holding.kill();
        holding.waitForFinished();
        const QString output = QString::fromUtf8(flasher.readAll());
        QVERIFY2(output.contains(says.arg(board.port()).arg(holderId)), qPrintable(output));
    }
};

QTEST_GUILESS_MAIN(TestPortUsers)
#include "tst_portusers.moc"
