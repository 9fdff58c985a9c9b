// The demo as a user meets it: its window over a simulated board, Burn pressed, what each fault
// shows; a wrong option refused; and the board going away with the demo, however the demo ends.

#include "DemoSession.h"
#include "flash/ESPToolManager.h"
#include "ui/ContentView.h"
#include "ui/ElidedLabel.h"
#include "ui/MainWindow.h"
#include "ui/ToolActionButton.h"

#include <QComboBox>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using namespace Qt::StringLiterals;

class TestDemo : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void burn_data();
    void burn();
    void program_data();
    void program();
};

void TestDemo::burn_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("console");  // words of the flasher's, or the app's closing line
    QTest::newRow("a sound board") << QString() << u"Ready"_s << u"Flash completed successfully."_s;
    QTest::newRow("noisy") << u"noisy"_s << u"Ready"_s << u"Recovered from line noise"_s;
    QTest::newRow("drop") << u"drop"_s << u"Ready"_s << u"came back after"_s;
    QTest::newRow("unplugged") << u"unplugged"_s << u"Failed"_s << u"connection to the board"_s;
    QTest::newRow("too-noisy") << u"too-noisy"_s << u"Failed"_s << u"too noisy at 1500000 baud"_s;
    QTest::newRow("no-download-mode") << u"no-download-mode"_s << u"Failed"_s << u"own firmware"_s;
    QTest::newRow("silent") << u"silent"_s << u"Failed"_s << u"no data came from the port"_s;
    QTest::newRow("other-chip") << u"other-chip"_s << u"Failed"_s << u"not an ESP32"_s;
    QTest::newRow("write-error") << u"write-error"_s << u"Failed"_s << u"flash write error"_s;
    QTest::newRow("restart") << u"restart"_s << u"Ready"_s
                             << u"The board restarted during the write (power-on reset"_s;
    QTest::newRow("restart-loop") << u"restart-loop"_s << u"Failed"_s << u"now keeps restarting"_s;
    QTest::newRow("slow-cable") << u"slow-cable"_s << u"Ready"_s << u"too noisy at 1500000 baud"_s;
    QTest::newRow("encrypted") << u"encrypted"_s << u"Failed"_s << u"Flash encryption is on"_s;
}

void TestDemo::burn()
{
    QFETCH(QString, fault);
    QFETCH(QString, status);
    QFETCH(QString, console);
    QTemporaryDir folder;
    EsptoolEnvironment esptool = EsptoolEnvironment::fromSystem();
    esptool.resourceDirectory = QString::fromUtf8(TAVIX_RESOURCE_OUTPUT_DIR);
    esptool.applicationSupportDirectory = folder.path();
    const DemoOptions options{.fault = findDemoFault(fault),
                              .dumpPath = folder.filePath(u"flash.bin"_s),
                              .realTiming = false};
    DemoSession session(options, {QString::fromUtf8(ESP32SIM_BINARY), esptool});
    QString error;
    QVERIFY2(session.start(&error), qPrintable(error));
    MainWindow& window = session.window();
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const ContentView& view = window.content();
    QCOMPARE(view.findChild<QComboBox*>(u"portMenu"_s)->currentText(),
             u"Simulated ESP32 (%1)"_s.arg(session.boardPort()));

    QSignalSpy runs(&view.espTool(), &ESPToolManager::isRunningChanged);
    QTest::mouseClick(view.findChild<ToolActionButton*>(u"burnButton"_s), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(runs.size() >= 2 && !view.espTool().isRunning(), 120'000);
    QCOMPARE(view.findChild<ElidedLabel*>(u"statusLabel"_s)->text(), u"Status: "_s + status);
    QVERIFY(view.espTool().esptoolLog().contains(console));

    // Closing the window stops the board, which writes its flash on its way out.
    window.close();
    QFile dump(options.dumpPath);
    QFile image(esptool.resourceDirectory + u"/UIFlow-core2-Tavix-V2.2-0x0.bin"_s);
    QVERIFY(dump.open(QIODevice::ReadOnly) && image.open(QIODevice::ReadOnly));
    QCOMPARE(dump.read(image.size()) == image.readAll(), status == u"Ready"_s);
}

void TestDemo::program_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("signal");  // sent once the demo is up
    QTest::newRow("unknown fault") << QStringList{u"--fault"_s, u"gremlins"_s} << 0;
    QTest::newRow("unknown option") << QStringList{u"--board"_s} << 0;
    QTest::newRow("plug-in without seconds") << QStringList{u"--plug-in"_s, u"soon"_s} << 0;
    QTest::newRow("crash") << QStringList() << SIGKILL;
    QTest::newRow("Ctrl-C to the demo alone") << QStringList() << SIGINT;
}

// A wrong option is refused before any window or board, so no display is needed to say so. Once
// up, the demo takes its board along however it ends; the board writes its flash on its way out.
void TestDemo::program()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, signal);
    QTemporaryDir folder;
    const QString dump = folder.filePath(u"flash.bin"_s);
    QProcess demo;
    // Its own place to install the flasher in; no display at all for a wrong option.
    demo.setEnvironment(signal
                            ? QProcess::systemEnvironment() << u"XDG_DATA_HOME="_s + folder.path()
                            : QStringList{u"PATH=/usr/bin:/bin"_s});
    demo.start(QString::fromUtf8(DEMO_BINARY), arguments << u"--dump"_s << dump);
    if (!signal) {
        QVERIFY(demo.waitForFinished());
        QCOMPARE(demo.exitCode(), 2);
        QVERIFY(demo.readAllStandardError().contains("\nusage: tavix-flash-tool-demo"));
        return;
    }
    QVERIFY(demo.waitForReadyRead(30'000) && demo.readLine().startsWith("The demo (pid "));
    QVERIFY(!QFile::exists(dump));
    ::kill(pid_t(demo.processId()), signal);
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dump), 10'000);
}

QTEST_MAIN(TestDemo)
#include "tst_demo.moc"
