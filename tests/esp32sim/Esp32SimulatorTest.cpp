#include "Esp32Simulator.h"

#include "PtyClient.h"
#include "RomTestFrames.h"

#include <QElapsedTimer>
#include <QTest>

using namespace esp32sim;
using namespace romtest;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

constexpr qsizetype ackLength = 14;

// Opens the chip's pty, connects a client and syncs; the eight SYNC replies land in `in`.
void openAndSync(Esp32Simulator& chip, PtyClient& client, QByteArray& in)
{
    QString error;
    QVERIFY2(chip.open(&error), qPrintable(error));
    QVERIFY(client.open(chip.slavePath()));
    QVERIFY(client.write(syncRequest()));
    QVERIFY(client.waitFor(in, 8 * ackLength));
}

}  // namespace

class Esp32SimulatorTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void timingHoldsRepliesBack();
    void hangUpDiscardsPendingReplies();
    void checkBaudFollowsTheClientsTermios();
};

void Esp32SimulatorTest::timingHoldsRepliesBack()
{
    SimulatorOptions options;
    options.timing = true;
    Esp32Simulator chip(options);
    PtyClient client;
    QByteArray in;
    openAndSync(chip, client, in);
    if (QTest::currentTestFailed())
        return;
    QVERIFY(client.write(request(0x0D, words({0, 0}))));
    QVERIFY(client.waitFor(in, 9 * ackLength));

    // 256 KiB at 0: four 64 KiB block erases. The reply can be late on a busy machine, never
    // early, so only the lower bound is checked.
    const QByteArray begin = request(0x02, words({0x40000, 256, 0x400, 0}));
    const Duration modelled =
        wireTime(begin.size(), 115200) + 4 * blockEraseTime + wireTime(ackLength, 115200);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(client.write(begin));
    QVERIFY(client.waitFor(in, 10 * ackLength, 60000));
    QVERIFY2(Duration(clock.nsecsElapsed()) >= modelled - 5ms,
             qPrintable(QString::number(clock.elapsed())));
    QVERIFY(parseReplies(in).last().ok());

    const SimulatorStatistics& stats = chip.statistics();
    QCOMPARE(stats.flashTime, 4 * blockEraseTime);
    QCOMPARE(stats.bytesSent, 10 * ackLength);
}

void Esp32SimulatorTest::hangUpDiscardsPendingReplies()
{
    SimulatorOptions options;
    options.timing = true;
    Esp32Simulator chip(options);
    PtyClient client;
    QByteArray in;
    openAndSync(chip, client, in);
    if (QTest::currentTestFailed())
        return;
    QVERIFY(client.write(request(0x0D, words({0, 0})) +
                         request(0x02, words({0x400000, 4096, 0x400, 0}))));
    QTRY_COMPARE(chip.statistics().commands.value(0x02), 1);
    chip.hangUp();  // 64 block erases would take 9.6 s
    in.clear();
    QVERIFY(client.waitForHangUp(in));
    for (const Reply& r : parseReplies(in))
        QCOMPARE(r.opcode, quint8(0x0D));
}

void Esp32SimulatorTest::checkBaudFollowsTheClientsTermios()
{
    SimulatorOptions options;
    options.checkLineBaud = true;
    Esp32Simulator chip(options);
    PtyClient client;
    QByteArray in;
    openAndSync(chip, client, in);
    if (QTest::currentTestFailed())
        return;
    QVERIFY(client.write(request(0x0F, words({460800, 0}))));
    QVERIFY(client.waitFor(in, 9 * ackLength));
    QVERIFY(parseReplies(in).last().ok());

    // Still at 115200: the chip does not understand.
    const QByteArray readMagic = request(0x0A, words({0x40001000}));
    QVERIFY(client.write(readMagic));
    QTRY_COMPARE(chip.statistics().baudMismatches, 1);
    QVERIFY(client.setBaud(B460800));
    QVERIFY(client.write(readMagic));
    QVERIFY(client.waitFor(in, 10 * ackLength));
    const QList<Reply> replies = parseReplies(in);
    QCOMPARE(replies.size(), 10);
    QCOMPARE(replies.last().value, 0x00F01D83U);
    QCOMPARE(chip.loader().baud(), 460800U);
}

QTEST_GUILESS_MAIN(Esp32SimulatorTest)
#include "Esp32SimulatorTest.moc"
