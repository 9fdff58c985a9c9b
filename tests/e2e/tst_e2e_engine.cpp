// The engine runs the bundled flasher, installed from the build's resources into a temporary
// home, against esp32-sim: what a user gets when pressing the buttons, minus the window.

#include "flash/ESPToolManager.h"
#include "support/fakeesptool/FakeEsptoolHome.h"
#include "support/simboard/SimulatedBoard.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <optional>

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
    void flashesTheBundledImage()
    {
        const QByteArray image = firmwareImage();
        QVERIFY(image.size() > 1'000'000);
        QTemporaryDir boardFolder;
        SimulatedBoard board(boardFolder.path());
        // The simulator answers only frames sent at its own baud: a flasher that forgot to switch
        // its side of the line after the baud change would fail here.
        QVERIFY(board.start({u"--check-baud"_s}));
        // The build holds the flasher for this processor only.
        FakeEsptoolHome home(tavix::EsptoolEnvironment::fromSystem().machine);
        tavix::EsptoolEnvironment environment = home.environment();
        environment.resourceDirectory = QString::fromUtf8(TAVIX_RESOURCE_OUTPUT_DIR);
        const auto engine = std::make_unique<tavix::ESPToolManager>(environment);

        QList<double> progress;
        connect(engine.get(), &tavix::ESPToolManager::flashProgressChanged, this,
                [&] { progress.append(engine->flashProgress()); });
        std::optional<tavix::FlashResult> result;
        engine->flashFirmware(board.port(), u"1500000"_s,
                              [&](const tavix::FlashResult& delivered) { result = delivered; });
        QTRY_VERIFY_WITH_TIMEOUT(result.has_value(), operationTimeoutMs);
        QVERIFY2(result->isSuccess(), qPrintable(engine->esptoolLog()));

        QCOMPARE(engine->statusText(), u"Ready"_s);
        QVERIFY(engine->esptoolLog().endsWith(u"\nFlash completed successfully.\n"_s));
        QVERIFY(QFile::exists(home.installedEsptoolPath()));

        // The progress the user saw never goes back and reaches the end. How many values it takes
        // on the way depends on how the pipe groups the output, so the steps are counted in the
        // log.
        QVERIFY(std::is_sorted(progress.cbegin(), progress.cend()));
        QVERIFY(!progress.isEmpty() && progress.last() == 1.0);
        QList<int> steps;
        static const QRegularExpression percent(u"(\\d+)\\s*%"_s);
        for (const QString& line : engine->esptoolLog().split(u'\n')) {
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
};

QTEST_GUILESS_MAIN(TestEndToEndEngine)
#include "tst_e2e_engine.moc"
