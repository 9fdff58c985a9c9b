// The engine runs the bundled flasher, installed from the build's resources into a temporary
// home, against esp32-sim: what a user gets when pressing the buttons, minus the window.

#include "FakeEsptoolHome.h"
#include "SimulatedBoard.h"
#include "flash/ESPToolManager.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

constexpr int operationTimeoutMs = 120'000;

QByteArray firmwareImage()
{
    QFile file(QDir(QString::fromUtf8(TAVIX_RESOURCE_OUTPUT_DIR))
                   .filePath(u"UIFlow-core2-Tavix-V2.2-0x0.bin"_s));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

class TestEndToEndEngine : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void flashesTheBundledImage();
    void erasesTheWholeFlash();
    void failsWhenTheLinkDropsHalfway();

private:
    // Runs an operation to its end and keeps its result in m_result.
    void run(const std::function<void(const FlashCompletion&)>& operation);

    std::unique_ptr<FakeEsptoolHome> m_home;
    std::unique_ptr<QTemporaryDir> m_boardFolder;
    std::unique_ptr<ESPToolManager> m_engine;
    std::optional<FlashResult> m_result;
};

void TestEndToEndEngine::init()
{
    m_home = std::make_unique<FakeEsptoolHome>();
    m_boardFolder = std::make_unique<QTemporaryDir>();
    EsptoolEnvironment environment = m_home->environment();
    environment.resourceDirectory = QString::fromUtf8(TAVIX_RESOURCE_OUTPUT_DIR);
    environment.machine = EsptoolEnvironment::fromSystem().machine;
    m_engine = std::make_unique<ESPToolManager>(environment);
}

void TestEndToEndEngine::run(const std::function<void(const FlashCompletion&)>& operation)
{
    m_result.reset();
    operation([this](const FlashResult& delivered) { m_result = delivered; });
    QTRY_VERIFY_WITH_TIMEOUT(m_result.has_value(), operationTimeoutMs);
}

void TestEndToEndEngine::flashesTheBundledImage()
{
    const QByteArray image = firmwareImage();
    QVERIFY(image.size() > 1'000'000);
    SimulatedBoard board(m_boardFolder->path());
    // The simulator answers only frames sent at its own baud: a flasher that forgot to switch
    // its side of the line after the baud change would fail here.
    QVERIFY(board.start({u"--check-baud"_s}));

    QList<double> progress;
    connect(m_engine.get(), &ESPToolManager::flashProgressChanged, this,
            [&] { progress.append(m_engine->flashProgress()); });
    run([&](const FlashCompletion& done) {
        m_engine->flashFirmware(board.port(), u"1500000"_s, done);
    });
    QVERIFY(m_result);
    const std::optional<FlashResult>& result = m_result;
    QVERIFY2(result->isSuccess(), qPrintable(m_engine->esptoolLog()));

    QCOMPARE(m_engine->statusText(), u"Ready"_s);
    QVERIFY(m_engine->esptoolLog().endsWith(u"\nFlash completed successfully.\n"_s));
    QVERIFY(QFile::exists(m_home->installedEsptoolPath()));

    // The progress the user saw never goes back and reaches the end. How many values it takes
    // on the way depends on how the pipe groups the output, so the steps are counted in the log.
    QVERIFY(std::is_sorted(progress.cbegin(), progress.cend()));
    QVERIFY(!progress.isEmpty() && progress.last() == 1.0);
    QList<int> steps;
    static const QRegularExpression percent(u"(\\d+)\\s*%"_s);
    for (const QString& line : m_engine->esptoolLog().split(u'\n')) {
        if (const QRegularExpressionMatch match = percent.match(line); match.hasMatch())
            steps << match.captured(1).toInt();
    }
    QVERIFY(steps.size() >= 10 && steps.first() == 0 && steps.last() == 100);
    QVERIFY(std::adjacent_find(steps.cbegin(), steps.cend(), std::greater_equal<>()) ==
            steps.cend());

    const QByteArray flash = board.stop();
    QCOMPARE(flash.size(), 4 * 1024 * 1024);
    QVERIFY(flash.left(image.size()) == image);
    QCOMPARE(board.stats().value(u"finalBaud"_s).toInt(), 1500000);
}

void TestEndToEndEngine::erasesTheWholeFlash()
{
    SimulatedBoard board(m_boardFolder->path());
    QVERIFY(board.start({u"--check-baud"_s}));
    run([&](const FlashCompletion& done) {
        m_engine->eraseFlash(board.port(), u"1500000"_s, done);
    });
    QVERIFY(m_result);
    const std::optional<FlashResult>& result = m_result;
    QVERIFY2(result->isSuccess(), qPrintable(m_engine->esptoolLog()));
    QVERIFY(m_engine->esptoolLog().endsWith(u"\nErase completed successfully.\n"_s));

    const QByteArray flash = board.stop();
    QCOMPARE(flash.size(), 4 * 1024 * 1024);
    QCOMPARE(flash.count('\xFF'), flash.size());
}

void TestEndToEndEngine::failsWhenTheLinkDropsHalfway()
{
    SimulatedBoard board(m_boardFolder->path());
    // About half of what a flash of the compressed image sends.
    QVERIFY(board.start({u"--drop-after"_s, u"450000"_s}));
    run([&](const FlashCompletion& done) {
        m_engine->flashFirmware(board.port(), u"1500000"_s, done);
    });
    QVERIFY(m_result);
    const std::optional<FlashResult>& result = m_result;
    QVERIFY(!result->isSuccess());
    QCOMPARE(m_engine->statusText(), u"Failed"_s);
    QVERIFY(m_engine->flashProgress() > 0.2 && m_engine->flashProgress() < 0.8);

    const QStringList lines = m_engine->esptoolLog().split(u'\n', Qt::SkipEmptyParts);
    QVERIFY(lines.last().startsWith(u"Operation failed with exit code "_s));
    QCOMPARE(result->message(), lines.last());
    QVERIFY(lines.last() != u"Operation failed with exit code 0."_s);
    // The flasher's own last word says what happened.
    QVERIFY2(lines.at(lines.size() - 2).contains(u"lost"_s, Qt::CaseInsensitive),
             qPrintable(lines.at(lines.size() - 2)));
}

QTEST_GUILESS_MAIN(TestEndToEndEngine)
#include "tst_e2e_engine.moc"
