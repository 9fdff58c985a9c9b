#include "FakeEsptoolHome.h"
#include "flash/ESPToolManager.h"
#include "flash/ShellQuote.h"

#include <QDir>
#include <QSignalSpy>
#include <QTest>

#include <csignal>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

// Collects what an operation delivers to its completion.
struct Delivery
{
    int calls = 0;
    std::optional<FlashResult> result;
};

FlashCompletion collectInto(const std::shared_ptr<Delivery>& delivery)
{
    return [delivery](const FlashResult& result) {
        ++delivery->calls;
        delivery->result = result;
    };
}

// Every value statusText took, in order.
class StatusRecorder
{
public:
    explicit StatusRecorder(ESPToolManager& engine)
    {
        QObject::connect(&engine, &ESPToolManager::statusTextChanged, &engine,
                         [this, &engine] { values.append(engine.statusText()); });
    }
    QStringList values;
};

const QString port = u"/dev/ttyUSB0"_s;
const QString baud = u"1500000"_s;

QString flashEcho(const QString& esptool, const QString& image)
{
    return u"$ "_s + ShellQuote::quoted(esptool) + u" --chip esp32 --port /dev/ttyUSB0"_s +
           u" --baud 1500000 --before default-reset --after hard-reset write-flash --compress"_s +
           u" --flash-mode dio --flash-freq 80m --flash-size detect 0x0 "_s +
           ShellQuote::quoted(image) + u"\n\n"_s;
}

}  // namespace

class TestESPToolManager : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void startsIdle();
    void flashesWithoutPercentages();
    void followsThePercentages();
    void keepsTheProgressOfAFailedRun_data();
    void keepsTheProgressOfAFailedRun();
    void reportsAChildKilledByASignal();
    void reportsAFlasherThatCannotStart();
    void stopsWhenTheFirmwareIsMissing();
    void stopsWhenTheFlasherIsMissing_data();
    void stopsWhenTheFlasherIsMissing();
    void logsPreparationFailuresOnlyWhenAsked();
    void erases();
    void passesArgumentsUnchanged();
    void keepsCharactersSplitAcrossReads();
    void showsInvalidBytesAsReplacementCharacters();
    void keepsTheOrderOfBothStreams();
    void appliesOutputWrittenJustBeforeTheEnd();
    void deliversTheResultAfterTheEngineIsGone();
    void startsTheNextOperationAfresh();
    void readsPercentagesOnlyWhileRunning();
    void showsTheWholeOfALongOutput();

private:
    std::unique_ptr<FakeEsptoolHome> m_home;
    std::unique_ptr<ESPToolManager> m_engine;

    std::shared_ptr<Delivery> flash(const QString& portName = port);
    std::shared_ptr<Delivery> erase();
    static void waitFor(const std::shared_ptr<Delivery>& delivery);
    QString image() const { return m_home->resourcePath(u"UIFlow-core2-Tavix-V2.2-0x0.bin"_s); }
};

void TestESPToolManager::init()
{
    m_home = std::make_unique<FakeEsptoolHome>();
    QVERIFY(m_home->isValid());
    m_home->addEsptool(u"esptool_amd64"_s);
    m_home->addFirmware();
    m_engine = std::make_unique<ESPToolManager>(m_home->environment());
    FakeEsptoolHome::setPlan({});
    FakeEsptoolHome::setRecordFile({});
}

std::shared_ptr<Delivery> TestESPToolManager::flash(const QString& portName)
{
    auto delivery = std::make_shared<Delivery>();
    m_engine->flashFirmware(portName, baud, collectInto(delivery));
    return delivery;
}

std::shared_ptr<Delivery> TestESPToolManager::erase()
{
    auto delivery = std::make_shared<Delivery>();
    m_engine->eraseFlash(port, baud, collectInto(delivery));
    return delivery;
}

void TestESPToolManager::waitFor(const std::shared_ptr<Delivery>& delivery)
{
    QTRY_VERIFY_WITH_TIMEOUT(delivery->calls > 0, 20000);
    // Nothing may arrive twice, not even a little later.
    QTest::qWait(50);
    QCOMPARE(delivery->calls, 1);
}

void TestESPToolManager::startsIdle()
{
    QCOMPARE(m_engine->isRunning(), false);
    QCOMPARE(m_engine->flashProgress(), 0.0);
    QCOMPARE(m_engine->statusText(), u"Ready"_s);
    QCOMPARE(m_engine->esptoolLog(), QString());
    QCOMPARE(m_engine->currentOperationName(), QString());
    QCOMPARE(QString(ESPToolManager::firmwareResourceName), u"UIFlow-core2-Tavix-V2.2-0x0"_s);
}

void TestESPToolManager::flashesWithoutPercentages()
{
    FakeEsptoolHome::setPlan({u"out Connecting....\\nChip is ESP32\\n"_s});
    StatusRecorder statuses(*m_engine);
    const auto delivery = flash();
    QVERIFY(m_engine->isRunning());
    QCOMPARE(m_engine->currentOperationName(), u"Flashing"_s);
    waitFor(delivery);

    QCOMPARE(*delivery->result, FlashResult::success());
    QCOMPARE(m_engine->esptoolLog(),
             u"Connecting to ESP32 and writing firmware...\n"_s +
                 flashEcho(m_home->installedEsptoolPath(), image()) +
                 u"Connecting....\nChip is ESP32\n\nFlash completed successfully.\n"_s);
    QCOMPARE(statuses.values, (QStringList{u"Flashing..."_s, u"Ready"_s}));
    QCOMPARE(m_engine->flashProgress(), 1.0);
    QCOMPARE(m_engine->isRunning(), false);
    QCOMPARE(m_engine->currentOperationName(), QString());
}

void TestESPToolManager::followsThePercentages()
{
    FakeEsptoolHome::setPlan({u"out Writing at 0x00000000... (10 %)\\n"_s, u"sleep 150"_s,
                              u"out \\rWriting at 0x00001000 [==>   ]  37.5% 100/300 bytes... "_s,
                              u"sleep 150"_s, u"out Writing at 0x00002000... (100 %)\\n"_s});
    StatusRecorder statuses(*m_engine);
    QList<double> progress;
    connect(m_engine.get(), &ESPToolManager::flashProgressChanged, this,
            [&] { progress.append(m_engine->flashProgress()); });
    const auto delivery = flash();
    waitFor(delivery);

    QCOMPARE(statuses.values, (QStringList{u"Flashing..."_s, u"Flashing 10%"_s, u"Flashing 37%"_s,
                                           u"Flashing 100%"_s, u"Ready"_s}));
    QCOMPARE(progress, (QList<double>{0.0, 0.10, 0.375, 1.0, 1.0}));
    QVERIFY(m_engine->esptoolLog().contains(u"\nWriting at 0x00001000 [==>   ]"_s));
}

void TestESPToolManager::keepsTheProgressOfAFailedRun_data()
{
    QTest::addColumn<QStringList>("plan");
    QTest::addColumn<double>("progress");
    QTest::addColumn<QString>("message");

    QTest::newRow("exit 1 at 37 %") << QStringList{u"out (37 %)\\n"_s, u"exit 1"_s} << 0.37
                                    << u"Operation failed with exit code 1."_s;
    QTest::newRow("exit 2 without output")
        << QStringList{u"exit 2"_s} << 0.0 << u"Operation failed with exit code 2."_s;
    QTest::newRow("exit 255") << QStringList{u"err boom\\n"_s, u"exit 255"_s} << 0.0
                              << u"Operation failed with exit code 255."_s;
}

void TestESPToolManager::keepsTheProgressOfAFailedRun()
{
    QFETCH(QStringList, plan);
    QFETCH(double, progress);
    QFETCH(QString, message);

    FakeEsptoolHome::setPlan(plan);
    const auto delivery = flash();
    waitFor(delivery);

    QCOMPARE(*delivery->result, FlashResult::failure(message));
    QCOMPARE(m_engine->flashProgress(), progress);
    QCOMPARE(m_engine->statusText(), u"Failed"_s);
    QVERIFY(m_engine->esptoolLog().endsWith(u'\n' + message + u'\n'));
    QCOMPARE(m_engine->isRunning(), false);
    QCOMPARE(m_engine->currentOperationName(), QString());
}

void TestESPToolManager::reportsAChildKilledByASignal()
{
    FakeEsptoolHome::setPlan({u"out (5 %)\\n"_s, u"signal %1"_s.arg(SIGKILL)});
    const auto delivery = flash();
    waitFor(delivery);

    const QString message = u"Operation failed with exit code %1."_s.arg(SIGKILL);
    QCOMPARE(*delivery->result, FlashResult::failure(message));
    QVERIFY(m_engine->esptoolLog().endsWith(u"(5 %)\n\n"_s + message + u'\n'));
    QCOMPARE(m_engine->statusText(), u"Failed"_s);
    QCOMPARE(m_engine->flashProgress(), 0.05);
}

void TestESPToolManager::reportsAFlasherThatCannotStart()
{
    // Executable bits, but no program inside: exec() refuses it.
    QFile::remove(m_home->resourcePath(u"esptool_amd64"_s));
    m_home->addResourceFile(u"esptool_amd64"_s, "this is not a program\n");
    const auto delivery = erase();
    QCOMPARE(delivery->calls, 1);  // delivered before eraseFlash returned

    const QString reason = delivery->result->message();
    QVERIFY(!delivery->result->isSuccess());
    QVERIFY(!reason.isEmpty());
    QCOMPARE(m_engine->esptoolLog(),
             u"Connecting to ESP32 and erasing flash...\n$ "_s +
                 ShellQuote::quoted(m_home->installedEsptoolPath()) +
                 u" --chip esp32 --port /dev/ttyUSB0 --baud 1500000 --before default-reset"
                 u" --after hard-reset erase-flash\n\n\nFailed to start esptool: "_s +
                 reason + u'\n');
    QCOMPARE(m_engine->statusText(), u"Failed"_s);
    QCOMPARE(m_engine->isRunning(), false);
    waitFor(delivery);
}

void TestESPToolManager::stopsWhenTheFirmwareIsMissing()
{
    QFile::remove(image());
    const auto delivery = flash();
    QCOMPARE(delivery->calls, 1);

    const QString message = u"Firmware file not found: UIFlow-core2-Tavix-V2.2-0x0.bin"_s;
    QCOMPARE(*delivery->result, FlashResult::failure(message));
    QCOMPARE(m_engine->esptoolLog(), u'\n' + message + u'\n');
    QCOMPARE(m_engine->statusText(), u"Failed"_s);
    QCOMPARE(m_engine->flashProgress(), 0.0);
    QCOMPARE(m_engine->isRunning(), false);
    // The image is looked for before the flasher is touched.
    QVERIFY(!QFileInfo::exists(m_home->toolDirectory()));
}

void TestESPToolManager::stopsWhenTheFlasherIsMissing_data()
{
    QTest::addColumn<bool>("flashing");
    QTest::newRow("flash") << true;
    QTest::newRow("erase") << false;
}

void TestESPToolManager::stopsWhenTheFlasherIsMissing()
{
    QFETCH(bool, flashing);
    QFile::remove(m_home->resourcePath(u"esptool_amd64"_s));
    const auto delivery = flashing ? flash() : erase();
    QCOMPARE(delivery->calls, 1);

    const QString message = u"esptool executable not found: esptool_amd64"_s;
    QCOMPARE(*delivery->result, FlashResult::failure(message));
    QCOMPARE(m_engine->esptoolLog(), u'\n' + message + u'\n');
    QCOMPARE(m_engine->statusText(), u"Failed"_s);
}

void TestESPToolManager::logsPreparationFailuresOnlyWhenAsked()
{
    EsptoolEnvironment environment = m_home->environment();
    // A file where the per-user folder should be: the tool folder cannot be made.
    environment.applicationSupportDirectory = image();
    ESPToolManager engine(environment);

    QSignalSpy logChanges(&engine, &ESPToolManager::esptoolLogChanged);
    QVERIFY(!engine.prepareEsptool(false));
    QCOMPARE(logChanges.count(), 0);
    QCOMPARE(engine.esptoolLog(), QString());

    auto delivery = std::make_shared<Delivery>();
    engine.flashFirmware(port, baud, collectInto(delivery));
    QCOMPARE(delivery->calls, 1);
    const QStringList lines = engine.esptoolLog().split(u'\n');
    QCOMPARE(lines.size(), 4);
    QVERIFY2(lines[0].startsWith(u"Failed to prepare esptool: Cannot create the folder "_s),
             qPrintable(lines[0]));
    QCOMPARE(lines.mid(1),
             (QStringList{QString(), u"esptool executable not found: esptool_amd64"_s, QString()}));
    QCOMPARE(*delivery->result,
             FlashResult::failure(u"esptool executable not found: esptool_amd64"_s));
}

void TestESPToolManager::erases()
{
    FakeEsptoolHome::setPlan({u"out Erasing flash...\\n"_s});
    StatusRecorder statuses(*m_engine);
    const auto delivery = erase();
    QCOMPARE(m_engine->currentOperationName(), u"Erasing"_s);
    waitFor(delivery);

    QCOMPARE(*delivery->result, FlashResult::success());
    QVERIFY(m_engine->esptoolLog().startsWith(u"Connecting to ESP32 and erasing flash...\n$ "_s));
    QVERIFY(m_engine->esptoolLog().contains(u" --after hard-reset erase-flash\n\nErasing flash"_s));
    QVERIFY(m_engine->esptoolLog().endsWith(u"\n\nErase completed successfully.\n"_s));
    QCOMPARE(statuses.values, (QStringList{u"Erasing..."_s, u"Ready"_s}));
}

void TestESPToolManager::passesArgumentsUnchanged()
{
    const QString record = QDir(m_home->environment().workingDirectory).filePath(u"args"_s);
    FakeEsptoolHome::setRecordFile(record);
    const QString oddPort = u"/dev/serial/by-id/usb-Silicon Labs 'CP2102'"_s;
    const auto delivery = flash(oddPort);
    waitFor(delivery);
    FakeEsptoolHome::setRecordFile({});

    QCOMPARE(FakeEsptoolHome::recordedLines(record),
             (QStringList{u"--chip"_s,       u"esp32"_s,
                          u"--port"_s,       oddPort,
                          u"--baud"_s,       baud,
                          u"--before"_s,     u"default-reset"_s,
                          u"--after"_s,      u"hard-reset"_s,
                          u"write-flash"_s,  u"--compress"_s,
                          u"--flash-mode"_s, u"dio"_s,
                          u"--flash-freq"_s, u"80m"_s,
                          u"--flash-size"_s, u"detect"_s,
                          u"0x0"_s,          image(),
                          u"NO_COLOR=1"_s}));
    QVERIFY(m_engine->esptoolLog().contains(
        u" --port '/dev/serial/by-id/usb-Silicon Labs '\\''CP2102'\\''' --baud "_s));
    // The echo names the installed copy, not the resource.
    QVERIFY(m_engine->esptoolLog().contains(u"$ "_s +
                                            ShellQuote::quoted(m_home->installedEsptoolPath())));
}

void TestESPToolManager::keepsCharactersSplitAcrossReads()
{
    FakeEsptoolHome::setPlan({u"out price: \\xe2\\x82"_s, u"sleep 200"_s, u"out \\xac 5\\n"_s});
    const auto delivery = flash();
    waitFor(delivery);
    QVERIFY(m_engine->esptoolLog().contains(u"price: € 5\n"_s));
    QVERIFY(!m_engine->esptoolLog().contains(QChar::ReplacementCharacter));
}

void TestESPToolManager::showsInvalidBytesAsReplacementCharacters()
{
    FakeEsptoolHome::setPlan({u"out bad \\xff byte\\n"_s, u"out cut \\xe2\\x82"_s});
    const auto delivery = flash();
    waitFor(delivery);
    QCOMPARE(*delivery->result, FlashResult::success());
    QVERIFY(m_engine->esptoolLog().contains(u"bad \ufffd byte\ncut \ufffd"_s));
}

void TestESPToolManager::keepsTheOrderOfBothStreams()
{
    FakeEsptoolHome::setPlan({u"out one\\n"_s, u"err two\\n"_s, u"out three\\r\\n"_s});
    const auto delivery = erase();
    waitFor(delivery);
    QVERIFY(m_engine->esptoolLog().contains(u"\n\none\ntwo\nthree\n\nErase completed"_s));
}

void TestESPToolManager::appliesOutputWrittenJustBeforeTheEnd()
{
    FakeEsptoolHome::setPlan({u"out (55 %)"_s, u"exit 3"_s});
    const auto delivery = flash();
    waitFor(delivery);
    QCOMPARE(m_engine->flashProgress(), 0.55);
    QVERIFY(m_engine->esptoolLog().endsWith(u"(55 %)\nOperation failed with exit code 3.\n"_s));
}

void TestESPToolManager::deliversTheResultAfterTheEngineIsGone()
{
    FakeEsptoolHome::setPlan({u"sleep 300"_s, u"out (50 %)\\n"_s, u"exit 4"_s});
    const auto delivery = flash();
    m_engine.reset();
    waitFor(delivery);
    QCOMPARE(*delivery->result, FlashResult::failure(u"Operation failed with exit code 4."_s));
}

void TestESPToolManager::startsTheNextOperationAfresh()
{
    FakeEsptoolHome::setPlan({u"out (37 %)\\n"_s, u"exit 1"_s});
    waitFor(flash());
    QCOMPARE(m_engine->flashProgress(), 0.37);

    FakeEsptoolHome::setPlan({u"sleep 200"_s});
    const auto delivery = erase();
    QCOMPARE(m_engine->flashProgress(), 0.0);
    QVERIFY(m_engine->esptoolLog().startsWith(u"Connecting to ESP32 and erasing flash...\n"_s));
    QCOMPARE(m_engine->esptoolLogResets(), quint64(2));
    waitFor(delivery);
}

void TestESPToolManager::readsPercentagesOnlyWhileRunning()
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
    m_engine->handleOutputChunk(u"150%"_s);
    QCOMPARE(m_engine->statusText(), u"Flashing 100%"_s);
    QCOMPARE(m_engine->flashProgress(), 1.0);
}

void TestESPToolManager::showsTheWholeOfALongOutput()
{
    const QString line = u"Writing at 0x00010000... (12 %)"_s;
    FakeEsptoolHome::setPlan({u"repeat 5000 "_s + line + u"\\r"_s});
    const auto delivery = flash();
    waitFor(delivery);
    QCOMPARE(m_engine->esptoolLog().count(line + u'\n'), 5000);
}

QTEST_GUILESS_MAIN(TestESPToolManager)
#include "tst_esptoolmanager.moc"
