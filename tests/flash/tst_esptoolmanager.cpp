#include "flash/ESPToolManager.h"
#include "flash/EsptoolCommandLine.h"
#include "support/fakeesptool/FakeEsptoolHome.h"

#include <QDir>
#include <QSignalSpy>
#include <QTest>

#include <csignal>
#include <memory>

using namespace Qt::StringLiterals;

using tavix::ESPToolManager;
using tavix::FlashResult;

namespace {

// Collects what an operation delivers to its completion.
struct Delivery
{
    int calls = 0;
    std::optional<FlashResult> result;
};

const QString port = u"/dev/ttyUSB0"_s;
const QString baud = u"1500000"_s;
const QString flashAnnouncement = u"Connecting to ESP32 and writing firmware...\n"_s;
const QString eraseAnnouncement = u"Connecting to ESP32 and erasing flash...\n"_s;

// The temporary folders hold spaces but no quotes, so single quotes around them are the echo.
QString quotedPath(const QString& path)
{
    return path.contains(u' ') ? u'\'' + path + u'\'' : path;
}

}  // namespace

class TestESPToolManager : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<FakeEsptoolHome> m_home;
    std::unique_ptr<ESPToolManager> m_engine;

    std::shared_ptr<Delivery> start(bool flashing, const QString& portName = port)
    {
        auto delivery = std::make_shared<Delivery>();
        auto completion = [delivery](const FlashResult& result) {
            ++delivery->calls;
            delivery->result = result;
        };
        if (flashing)
            m_engine->flashFirmware(portName, baud, completion);
        else
            m_engine->eraseFlash(portName, baud, completion);
        return delivery;
    }

    static void waitFor(const std::shared_ptr<Delivery>& delivery)
    {
        QTRY_VERIFY_WITH_TIMEOUT(delivery->calls > 0, 20000);
        // Nothing may arrive twice, not even a little later.
        QTest::qWait(50);
        QCOMPARE(delivery->calls, 1);
    }

    QString image() const { return m_home->resourcePath(u"UIFlow-core2-Tavix-V2.2-0x0.bin"_s); }
    // What the log starts with: the announcement and the command line echoed.
    QString opening(bool flashing) const
    {
        const QString common = (flashing ? flashAnnouncement : eraseAnnouncement) + u"$ "_s +
                               quotedPath(m_home->installedEsptoolPath()) +
                               u" --chip esp32 --port /dev/ttyUSB0 --baud 1500000"
                               u" --before default-reset --after hard-reset "_s;
        if (!flashing)
            return common + u"erase-flash\n\n"_s;
        return common +
               u"write-flash --compress --flash-mode dio --flash-freq 80m --flash-size detect 0x0 "_s +
               quotedPath(image()) + u"\n\n"_s;
    }

private Q_SLOTS:
    void init()
    {
        m_home = std::make_unique<FakeEsptoolHome>();
        QVERIFY(m_home->isValid());
        m_home->addEsptool(u"esptool_amd64"_s);
        m_home->addFirmware();
        m_engine = std::make_unique<ESPToolManager>(m_home->environment());
        FakeEsptoolHome::setPlan({});
        FakeEsptoolHome::setRecordFile({});
    }

    void runsTheFlasherToItsEnd_data()
    {
        QTest::addColumn<bool>("flashing");
        QTest::addColumn<QStringList>("plan");
        QTest::addColumn<QString>("output");  // as the log shows it
        QTest::addColumn<QStringList>("statuses");
        QTest::addColumn<QList<double>>("progress");  // every value assigned after the start
        QTest::addColumn<QString>("failure");         // the result's message, empty for success
        QTest::addColumn<QString>("closing");         // the log's last line

        const QString flashed = u"Flash completed successfully."_s;
        const QString erased = u"Erase completed successfully."_s;
        const auto exitCode = [](int code) {
            return u"Operation failed with exit code %1."_s.arg(code);
        };
        QTest::newRow("flash without percentages")
            << true << QStringList{u"out Connecting....\\nChip is ESP32\\n"_s}
            << u"Connecting....\nChip is ESP32\n"_s << QStringList{u"Flashing..."_s, u"Ready"_s}
            << QList<double>{1.0} << QString() << flashed;
        QTest::newRow("percentages of both flasher generations")
            << true
            << QStringList{u"out Writing at 0x00000000... (10 %)\\n"_s, u"sleep 150"_s,
                           u"out \\rWriting at 0x00001000 [==>   ]  37.5% 100/300 bytes... "_s,
                           u"sleep 150"_s, u"out Writing at 0x00002000... (100 %)\\n"_s}
            << u"Writing at 0x00000000... (10 %)\n\nWriting at 0x00001000 [==>   ]  37.5% 100/300 "
               u"bytes... Writing at 0x00002000... (100 %)\n"_s
            << QStringList{u"Flashing..."_s, u"Flashing 10%"_s, u"Flashing 37%"_s,
                           u"Flashing 100%"_s, u"Ready"_s}
            << QList<double>{0.10, 0.375, 1.0, 1.0} << QString() << flashed;
        QTest::newRow("erase") << false << QStringList{u"out Erasing flash...\\n"_s}
                               << u"Erasing flash...\n"_s
                               << QStringList{u"Erasing..."_s, u"Ready"_s} << QList<double>{1.0}
                               << QString() << erased;
        QTest::newRow("exit 255 without percentages")
            << false << QStringList{u"err boom\\n"_s, u"exit 255"_s} << u"boom\n"_s
            << QStringList{u"Erasing..."_s, u"Failed"_s} << QList<double>{} << exitCode(255)
            << exitCode(255);
        QTest::newRow("killed by a signal")
            << true << QStringList{u"out (5 %)\\n"_s, u"signal %1"_s.arg(SIGKILL)} << u"(5 %)\n"_s
            << QStringList{u"Flashing..."_s, u"Flashing 5%"_s, u"Failed"_s} << QList<double>{0.05}
            << exitCode(SIGKILL) << exitCode(SIGKILL);
        // A failure keeps the progress reached.
        QTest::newRow("output written just before the end")
            << true << QStringList{u"out (55 %)"_s, u"exit 3"_s} << u"(55 %)"_s
            << QStringList{u"Flashing..."_s, u"Flashing 55%"_s, u"Failed"_s} << QList<double>{0.55}
            << exitCode(3) << exitCode(3);
        QTest::newRow("a character split across reads")
            << true << QStringList{u"out price: \\xe2\\x82"_s, u"sleep 200"_s, u"out \\xac 5\\n"_s}
            << u"price: € 5\n"_s << QStringList{u"Flashing..."_s, u"Ready"_s} << QList<double>{1.0}
            << QString() << flashed;
        QTest::newRow("invalid bytes and a cut character at the end")
            << true << QStringList{u"out bad \\xff byte\\n"_s, u"out cut \\xe2\\x82"_s}
            << u"bad \ufffd byte\ncut \ufffd\ufffd"_s << QStringList{u"Flashing..."_s, u"Ready"_s}
            << QList<double>{1.0} << QString() << flashed;
        QTest::newRow("both streams in order, CR LF as one line end")
            << false << QStringList{u"out one\\n"_s, u"err two\\n"_s, u"out three\\r\\n"_s}
            << u"one\ntwo\nthree\n"_s << QStringList{u"Erasing..."_s, u"Ready"_s}
            << QList<double>{1.0} << QString() << erased;
    }

    void runsTheFlasherToItsEnd()
    {
        QFETCH(bool, flashing);
        QFETCH(QStringList, plan);
        QFETCH(QString, output);
        QFETCH(QStringList, statuses);
        QFETCH(QList<double>, progress);
        QFETCH(QString, failure);
        QFETCH(QString, closing);

        FakeEsptoolHome::setPlan(plan);
        QStringList seenStatuses;
        QList<double> seenProgress;
        connect(m_engine.get(), &ESPToolManager::statusTextChanged, this,
                [&] { seenStatuses.append(m_engine->statusText()); });
        const auto delivery = start(flashing);
        QVERIFY(m_engine->isRunning());
        QCOMPARE(m_engine->currentOperationName() + u"..."_s, statuses.first());
        connect(m_engine.get(), &ESPToolManager::flashProgressChanged, this,
                [&] { seenProgress.append(m_engine->flashProgress()); });
        waitFor(delivery);

        QCOMPARE(delivery->result->isSuccess(), failure.isEmpty());
        QCOMPARE(delivery->result->message(), failure);
        QCOMPARE(m_engine->esptoolLog(), opening(flashing) + output + u'\n' + closing + u'\n');
        QCOMPARE(seenStatuses, statuses);
        QCOMPARE(seenProgress, progress);
        QCOMPARE(m_engine->isRunning(), false);
        QCOMPARE(m_engine->currentOperationName(), QString());
    }

    void reportsWhenTheFlasherCannotStart()
    {
        // Executable bits, but no program inside: exec() refuses it.
        QFile::remove(m_home->resourcePath(u"esptool_amd64"_s));
        m_home->addResourceFile(u"esptool_amd64"_s, "this is not a program\n");
        const auto delivery = start(false);
        QCOMPARE(delivery->calls, 1);  // delivered before eraseFlash returned

        const QString reason = delivery->result->message();
        QVERIFY(!delivery->result->isSuccess());
        QVERIFY(!reason.isEmpty());
        QCOMPARE(m_engine->esptoolLog(),
                 opening(false) + u"\nFailed to start esptool: "_s + reason + u'\n');
        QCOMPARE(m_engine->statusText(), u"Failed"_s);
        QCOMPARE(m_engine->isRunning(), false);
        waitFor(delivery);
    }

    void stopsWhenSomethingIsMissing_data()
    {
        QTest::addColumn<bool>("flashing");
        QTest::addColumn<QString>("missing");
        QTest::addColumn<QString>("message");

        const QString noFlasher = u"esptool executable not found: esptool_amd64"_s;
        QTest::newRow("image") << true << u"UIFlow-core2-Tavix-V2.2-0x0.bin"_s
                               << u"Firmware file not found: UIFlow-core2-Tavix-V2.2-0x0.bin"_s;
        QTest::newRow("flasher, flashing") << true << u"esptool_amd64"_s << noFlasher;
        QTest::newRow("flasher, erasing") << false << u"esptool_amd64"_s << noFlasher;
    }

    void stopsWhenSomethingIsMissing()
    {
        QFETCH(bool, flashing);
        QFETCH(QString, missing);
        QFETCH(QString, message);

        QFile::remove(m_home->resourcePath(missing));
        const auto delivery = start(flashing);
        QCOMPARE(delivery->calls, 1);
        QCOMPARE(*delivery->result, FlashResult::failure(message));
        QCOMPARE(m_engine->esptoolLog(), u'\n' + message + u'\n');
        QCOMPARE(m_engine->statusText(), u"Failed"_s);
        QCOMPARE(m_engine->flashProgress(), 0.0);
        QCOMPARE(m_engine->isRunning(), false);
        // Nothing was installed: the image is looked for before the flasher is touched.
        QVERIFY(!QFileInfo::exists(m_home->toolDirectory()));
    }

    // Erasing needs the flasher alone: a missing image neither stops it nor shows in the log.
    void erasesWithoutTheImage()
    {
        QFile::remove(image());
        FakeEsptoolHome::setPlan({u"out Erasing flash...\\n"_s});
        const auto delivery = start(false);
        waitFor(delivery);
        QCOMPARE(*delivery->result, FlashResult::success());
        QCOMPARE(m_engine->esptoolLog(),
                 opening(false) + u"Erasing flash...\n\nErase completed successfully.\n"_s);
    }

    void logsPreparationFailuresOnlyWhenAsked()
    {
        tavix::EsptoolEnvironment environment = m_home->environment();
        // A file where the per-user folder should be: the tool folder cannot be made.
        environment.applicationSupportDirectory = image();
        ESPToolManager engine(environment);

        QSignalSpy logChanges(&engine, &ESPToolManager::esptoolLogChanged);
        QVERIFY(!engine.prepareEsptool(false));
        QCOMPARE(logChanges.count(), 0);
        QCOMPARE(engine.esptoolLog(), QString());

        std::optional<FlashResult> result;
        engine.flashFirmware(port, baud, [&](const FlashResult& r) { result = r; });
        const QStringList lines = engine.esptoolLog().split(u'\n');
        QCOMPARE(lines.size(), 4);
        QVERIFY2(lines[0].startsWith(u"Failed to prepare esptool: Cannot create the folder "_s),
                 qPrintable(lines[0]));
        QCOMPARE(
            lines.mid(1),
            (QStringList{QString(), u"esptool executable not found: esptool_amd64"_s, QString()}));
        QCOMPARE(result, FlashResult::failure(u"esptool executable not found: esptool_amd64"_s));
    }

    void passesArgumentsUnchanged()
    {
        const QString record = QDir(m_home->environment().workingDirectory).filePath(u"args"_s);
        FakeEsptoolHome::setRecordFile(record);
        const QString oddPort = u"/dev/serial/by-id/usb-Silicon Labs 'CP2102'"_s;
        waitFor(start(true, oddPort));
        FakeEsptoolHome::setRecordFile({});

        // The words of the command line the log shows (checked word for word above), unquoted.
        QCOMPARE(FakeEsptoolHome::recordedLines(record),
                 tavix::commandline::flashArguments(oddPort, baud, image()) << u"NO_COLOR=1"_s);
        QVERIFY(m_engine->esptoolLog().contains(
            u" --port '/dev/serial/by-id/usb-Silicon Labs '\\''CP2102'\\''' --baud "_s));
    }

    void deliversTheResultAfterTheEngineIsGone()
    {
        FakeEsptoolHome::setPlan({u"sleep 300"_s, u"out (50 %)\\n"_s, u"exit 4"_s});
        const auto delivery = start(true);
        m_engine.reset();
        waitFor(delivery);
        QCOMPARE(*delivery->result, FlashResult::failure(u"Operation failed with exit code 4."_s));
    }

    void startsTheNextOperationAfresh()
    {
        FakeEsptoolHome::setPlan({u"out (37 %)\\n"_s, u"exit 1"_s});
        waitFor(start(true));
        QCOMPARE(m_engine->flashProgress(), 0.37);

        FakeEsptoolHome::setPlan({u"sleep 200"_s});
        const auto delivery = start(false);
        QCOMPARE(m_engine->flashProgress(), 0.0);
        QVERIFY(m_engine->esptoolLog().startsWith(eraseAnnouncement));
        QCOMPARE(m_engine->esptoolLogResets(), quint64(2));
        waitFor(delivery);
    }

    void readsPercentagesAnytimeButShowsThemOnlyWhileRunning()
    {
        m_engine->updateProgress(u"done: 42 %"_s);
        QCOMPARE(m_engine->flashProgress(), 0.42);
        QCOMPARE(m_engine->statusText(), u"Ready"_s);

        QSignalSpy progressChanges(m_engine.get(), &ESPToolManager::flashProgressChanged);
        m_engine->updateProgress(u"no number here"_s);
        QCOMPARE(progressChanges.count(), 0);

        m_engine->beginOperation(u"Flashing"_s);
        m_engine->handleOutputChunk(u"10 % then 20 %"_s);
        QCOMPARE(m_engine->flashProgress(), 0.10);
        QCOMPARE(m_engine->statusText(), u"Flashing 10%"_s);
        QCOMPARE(m_engine->esptoolLog(), u"10 % then 20 %"_s);
    }

    void showsTheWholeOfLongOutput()
    {
        const QString line = u"Writing at 0x00010000... (12 %)"_s;
        FakeEsptoolHome::setPlan({u"repeat 5000 "_s + line + u"\\r"_s});
        waitFor(start(true));
        QCOMPARE(m_engine->esptoolLog().count(line + u'\n'), 5000);
    }
};

QTEST_GUILESS_MAIN(TestESPToolManager)
#include "tst_esptoolmanager.moc"
