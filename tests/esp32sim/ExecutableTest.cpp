#include "PtyClient.h"
#include "RomTestFrames.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace romtest;
using namespace Qt::StringLiterals;

namespace {

constexpr int startTimeoutMs = 10000;
constexpr qsizetype ackLength = 14;

QString simulatorPath()
{
    return QStringLiteral(ESP32_SIM_PATH);
}

}  // namespace

class ExecutableTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void syncThenSigtermWritesDumpAndStats();
    void badOptionExitsWithUsageStatus();
};

void ExecutableTest::syncThenSigtermWritesDumpAndStats()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString dump = dir.filePath(u"flash.bin"_s);
    const QString stats = dir.filePath(u"stats.json"_s);

    QProcess sim;
    sim.start(simulatorPath(), {u"--flash-size"_s, u"2MB"_s, u"--fill"_s, u"0x5A"_s, u"--dump"_s,
                                dump, u"--stats"_s, stats});
    QVERIFY2(sim.waitForStarted(startTimeoutMs), qPrintable(sim.errorString()));
    QTRY_VERIFY_WITH_TIMEOUT(sim.canReadLine(), startTimeoutMs);
    const QString path = QString::fromLocal8Bit(sim.readLine()).trimmed();
    QVERIFY2(path.startsWith(u"/dev/pts/"_s), qPrintable(path));

    {
        PtyClient client;
        QVERIFY(client.open(path));
        QVERIFY(client.write(syncRequest()));
        QByteArray in;
        QVERIFY(client.waitFor(in, 8 * ackLength));
        const QList<Reply> replies = parseReplies(in);
        QCOMPARE(replies.size(), 8);
        for (const Reply& r : replies) {
            QCOMPARE(r.opcode, quint8(0x08));
            QCOMPARE(r.value, 0x20120707U);
            QVERIFY(r.ok());
        }
    }

    sim.terminate();  // SIGTERM
    QVERIFY(sim.waitForFinished(startTimeoutMs));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), 0);
    QVERIFY(sim.readAllStandardOutput().isEmpty());

    QFile dumpFile(dump);
    QVERIFY(dumpFile.open(QIODevice::ReadOnly));
    QCOMPARE(dumpFile.readAll(), QByteArray(qsizetype(2) * 1024 * 1024, '\x5A'));

    QFile statsFile(stats);
    QVERIFY(statsFile.open(QIODevice::ReadOnly));
    const QJsonObject json = QJsonDocument::fromJson(statsFile.readAll()).object();
    QCOMPARE(json.value(u"bytesReceived"_s).toInteger(), syncRequest().size());
    QCOMPARE(json.value(u"bytesSent"_s).toInteger(), 8 * ackLength);
    QCOMPARE(json.value(u"finalBaud"_s).toInteger(), 115200);
    QCOMPARE(json.value(u"flashSeconds"_s).toDouble(), 0.0);
    QVERIFY(qAbs(json.value(u"wireSecondsSent"_s).toDouble() - 8 * 14 * 10 / 115200.0) < 1e-6);
    QVERIFY(qAbs(json.value(u"wireSecondsReceived"_s).toDouble() -
                 double(syncRequest().size()) * 10 / 115200.0) < 1e-6);
    QCOMPARE(json.value(u"commands"_s).toObject().value(u"0x08"_s).toInt(), 1);
    QVERIFY(json.value(u"lastSpiAttach"_s).isNull());
    QVERIFY(json.value(u"lastBaudRequest"_s).isNull());
}

void ExecutableTest::badOptionExitsWithUsageStatus()
{
    QProcess sim;
    sim.start(simulatorPath(), {u"--flash-size"_s, u"3MB"_s});
    QVERIFY(sim.waitForFinished(startTimeoutMs));
    QCOMPARE(sim.exitCode(), 2);
    QVERIFY(sim.readAllStandardOutput().isEmpty());
    QVERIFY(sim.readAllStandardError().contains("--flash-size"));
}

QTEST_GUILESS_MAIN(ExecutableTest)
#include "ExecutableTest.moc"
