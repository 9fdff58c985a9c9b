#include "FakeSerialLink.h"
#include "link/ResetSequence.h"

#include <QTest>

using namespace Qt::StringLiterals;
using esptool::ResetSequence;

class TestResetSequence : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void linesAndTimes_data();
    void linesAndTimes();
    void connectingAlternatesWiringsAndHolds();
    void pseudoTerminalSkipsThePulses();
};

void TestResetSequence::linesAndTimes_data()
{
    QTest::addColumn<ResetSequence>("sequence");
    QTest::addColumn<QString>("changes");
    // RTS drives EN, DTR drives GPIO0: EN held low with GPIO0 high for 100 ms, then EN released
    // while GPIO0 is low, and GPIO0 released after the hold.
    QTest::newRow("classic, short hold") << ResetSequence::classic(std::chrono::milliseconds(50))
                                         << u"dtr=0@0 rts=1@0 dtr=1@100 rts=0@100 dtr=0@150"_s;
    QTest::newRow("classic, long hold") << ResetSequence::classic(std::chrono::milliseconds(550))
                                        << u"dtr=0@0 rts=1@0 dtr=1@100 rts=0@100 dtr=0@650"_s;
    // The same steps with both lines in one call each: no moment with one line changed alone.
    QTest::newRow("tight, short hold") << ResetSequence::tight(std::chrono::milliseconds(50))
                                       << u"lines=01@0 lines=10@100 lines=00@150"_s;
    QTest::newRow("hard reset: EN pulse, GPIO0 untouched")
        << ResetSequence::hardReset() << u"rts=1@0 rts=0@100"_s;
}

void TestResetSequence::linesAndTimes()
{
    QFETCH(ResetSequence, sequence);
    QFETCH(QString, changes);
    FakeSerialLink link;
    QCOMPARE(sequence.apply(link), ResetSequence::Outcome::done);
    QCOMPARE(link.lineChanges().join(u' '), changes);
}

void TestResetSequence::connectingAlternatesWiringsAndHolds()
{
    QStringList seen;
    for (const ResetSequence& sequence : ResetSequence::enterLoaderSequences()) {
        FakeSerialLink link;
        sequence.apply(link);
        const bool tight = link.lineChanges().first().startsWith(u"lines"_s);
        seen << u"%1/%2"_s.arg(tight ? u"tight"_s : u"classic"_s).arg(link.nowMs() - 100);
    }
    QCOMPARE(seen, (QStringList{u"classic/50"_s, u"tight/50"_s, u"classic/550"_s, u"tight/550"_s}));
}

void TestResetSequence::pseudoTerminalSkipsThePulses()
{
    FakeSerialLink pty(false);
    QCOMPARE(ResetSequence::classic(std::chrono::milliseconds(50)).apply(pty),
             ResetSequence::Outcome::noModemLines);
    QCOMPARE(ResetSequence::tight(std::chrono::milliseconds(50)).apply(pty),
             ResetSequence::Outcome::noModemLines);
    // No time is spent waiting on lines that do not exist.
    QCOMPARE(pty.nowMs(), 0);
}

QTEST_APPLESS_MAIN(TestResetSequence)
#include "tst_resetsequence.moc"
