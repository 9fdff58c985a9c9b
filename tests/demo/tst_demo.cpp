// The demo as a user meets it: its window over a simulated board, Burn pressed, what each fault
// shows; a wrong option refused; and the board going away with the demo, however the demo ends.

#include "demo/DemoSession.h"
#include "flash/ESPToolManager.h"
#include "support/simboard/SimulatedBoard.h"
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

using tavix::DemoSession;

class TestDemo : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void burn_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("console");  // words of the flasher's, or the app's closing line
        QTest::addColumn<bool>("written");     // the board's flash holds the image afterwards

        const QString ready = u"Ready"_s;
        const QString failed = u"Failed"_s;
        QTest::newRow("a sound board")
            << QString() << ready << u"Flash completed successfully."_s << true;
        QTest::newRow("noisy") << u"noisy"_s << ready << u"Recovered from line noise"_s << true;
        QTest::newRow("drop") << u"drop"_s << ready << u"came back after"_s << true;
        QTest::newRow("unplugged")
            << u"unplugged"_s << failed << u"connection to the board"_s << false;
        QTest::newRow("too-noisy")
            << u"too-noisy"_s << failed << u"too noisy at 1500000 baud"_s << false;
        QTest::newRow("no-download-mode")
            << u"no-download-mode"_s << failed << u"own firmware"_s << false;
        QTest::newRow("silent") << u"silent"_s << failed << u"no data came from the port"_s
                                << false;
        QTest::newRow("other-chip") << u"other-chip"_s << failed << u"not an ESP32"_s << false;
        QTest::newRow("write-error")
            << u"write-error"_s << failed << u"flash write error"_s << false;
        QTest::newRow("restart") << u"restart"_s << ready
                                 << u"The board restarted during the write (power-on reset"_s
                                 << true;
        QTest::newRow("restart-loop")
            << u"restart-loop"_s << failed << u"now keeps restarting"_s << false;
        QTest::newRow("slow-cable")
            << u"slow-cable"_s << ready << u"too noisy at 1500000 baud"_s << true;
        QTest::newRow("encrypted")
            << u"encrypted"_s << failed << u"Flash encryption is on"_s << false;
    }

    void burn()
    {
        QFETCH(QString, fault);
        QFETCH(QString, status);
        QFETCH(QString, console);
        QFETCH(bool, written);
        const std::optional<tavix::DemoFault> demoFault = tavix::findDemoFault(fault);
        if (const QString why = SimulatedBoard::whyLineRateIsUnchecked(
                demoFault ? demoFault->simulatorOptions : QStringList());
            !why.isEmpty())
            QSKIP(qPrintable(why));
        QTemporaryDir folder;
        tavix::EsptoolEnvironment esptool = tavix::EsptoolEnvironment::fromSystem();
        esptool.resourceDirectory = QString::fromUtf8(TAVIX_RESOURCE_OUTPUT_DIR);
        esptool.applicationSupportDirectory = folder.path();
        const tavix::DemoOptions options{
            .fault = demoFault, .dumpPath = folder.filePath(u"flash.bin"_s), .realTiming = false};
        DemoSession session(options, {QString::fromUtf8(ESP32SIM_BINARY), esptool});
        QString error;
        QVERIFY2(session.start(&error), qPrintable(error));
        tavix::MainWindow& window = session.window();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const tavix::ContentView& view = window.content();
        QCOMPARE(view.findChild<QComboBox*>(u"portMenu"_s)->currentText(),
                 u"Simulated ESP32 (%1)"_s.arg(session.boardPort()));

        QSignalSpy runs(&view.espTool(), &tavix::ESPToolManager::isRunningChanged);
        QTest::mouseClick(view.findChild<tavix::ToolActionButton*>(u"burnButton"_s),
                          Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(runs.size() >= 2 && !view.espTool().isRunning(), 120'000);
        QCOMPARE(view.findChild<tavix::ElidedLabel*>(u"statusLabel"_s)->text(),
                 u"Status: "_s + status);
        QVERIFY(view.espTool().esptoolLog().contains(console));

        // Closing the window stops the board, which writes its flash on its way out.
        window.close();
        QFile dump(options.dumpPath);
        QFile image(esptool.resourceDirectory + u"/UIFlow-core2-Tavix-V2.2-0x0.bin"_s);
        QVERIFY(dump.open(QIODevice::ReadOnly) && image.open(QIODevice::ReadOnly));
        QCOMPARE(dump.read(image.size()) == image.readAll(), written);
    }

    void refusesWrongOptions_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("unknown fault") << QStringList{u"--fault"_s, u"gremlins"_s};
        QTest::newRow("unknown option") << QStringList{u"--board"_s};
        QTest::newRow("plug-in without seconds") << QStringList{u"--plug-in"_s, u"soon"_s};
    }

    // Before any window or board, so no display is needed to say so.
    void refusesWrongOptions()
    {
        QFETCH(QStringList, arguments);
        QProcess demo;
        demo.setEnvironment({u"PATH=/usr/bin:/bin"_s});
        demo.start(QString::fromUtf8(DEMO_BINARY), arguments);
        QVERIFY(demo.waitForFinished());
        QCOMPARE(demo.exitCode(), 2);
        QVERIFY(demo.readAllStandardError().contains("\nusage: tavix-flash-tool-demo"));
    }

    void takesItsBoardAlong_data()
    {
        QTest::addColumn<int>("signal");  // sent once the demo is up
        QTest::newRow("crash") << int(SIGKILL);
        QTest::newRow("Ctrl-C to the demo alone") << int(SIGINT);
    }

    // However the demo ends, its board goes with it, writing its flash on its way out.
    void takesItsBoardAlong()
    {
        QFETCH(int, signal);
        QTemporaryDir folder;
        const QString dump = folder.filePath(u"flash.bin"_s);
        QProcess demo;
        // Its own place to install the flasher in.
        demo.setEnvironment(QProcess::systemEnvironment() << u"XDG_DATA_HOME="_s + folder.path());
        demo.start(QString::fromUtf8(DEMO_BINARY), {u"--dump"_s, dump});
        QVERIFY(demo.waitForReadyRead(30'000) && demo.readLine().startsWith("The demo (pid "));
        QVERIFY(!QFile::exists(dump));
        ::kill(pid_t(demo.processId()), signal);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dump), 10'000);
    }
};

QTEST_MAIN(TestDemo)
#include "tst_demo.moc"
