#include "FakeSerialLink.h"
#include "link/ResetSequence.h"

#include <QTest>

using esptool::ResetSequence;
using Kind = FakeSerialLink::Event::Kind;

namespace {

struct LineChange
{
    Kind line;
    int level;
    qint64 atMs;
};

QList<LineChange> lineChanges(const FakeSerialLink& link)
{
    QList<LineChange> changes;
    for (const FakeSerialLink::Event& event : link.events()) {
        if (event.kind == Kind::dtr || event.kind == Kind::rts)
            changes.append(LineChange{event.kind, event.value, event.atMs});
    }
    return changes;
}

void compareChanges(const QList<LineChange>& actual, const QList<LineChange>& expected)
{
    QCOMPARE(actual.size(), expected.size());
    for (qsizetype i = 0; i < expected.size(); ++i) {
        QCOMPARE(actual[i].line, expected[i].line);
        QCOMPARE(actual[i].level, expected[i].level);
        QCOMPARE(actual[i].atMs, expected[i].atMs);
    }
}

}  // namespace

class TestResetSequence : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void enterLoaderHoldsEnThenStrapsGpio0_data();
    void enterLoaderHoldsEnThenStrapsGpio0();
    void hardResetPulsesEnOnly();
    void neverAssertsBothLinesAtOnceWhileStrapping();
    void pseudoTerminalSkipsThePulses();
};

void TestResetSequence::enterLoaderHoldsEnThenStrapsGpio0_data()
{
    QTest::addColumn<int>("holdMs");
    QTest::newRow("short hold") << 50;
    QTest::newRow("long hold") << 550;
}

void TestResetSequence::enterLoaderHoldsEnThenStrapsGpio0()
{
    QFETCH(int, holdMs);
    FakeSerialLink link;
    const auto outcome = ResetSequence::classic(std::chrono::milliseconds(holdMs)).apply(link);
    QCOMPARE(outcome, ResetSequence::Outcome::done);
    // RTS (EN) asserted with DTR (GPIO0) released: held in reset. 100 ms later EN is released
    // while GPIO0 is pulled low, and GPIO0 is let go after the hold.
    compareChanges(lineChanges(link), {{Kind::dtr, 0, 0},
                                       {Kind::rts, 1, 0},
                                       {Kind::dtr, 1, 100},
                                       {Kind::rts, 0, 100},
                                       {Kind::dtr, 0, 100 + holdMs}});
    QCOMPARE(link.nowMs(), 100 + holdMs);
}

void TestResetSequence::hardResetPulsesEnOnly()
{
    FakeSerialLink link;
    QCOMPARE(ResetSequence::hardReset().apply(link), ResetSequence::Outcome::done);
    compareChanges(lineChanges(link), {{Kind::rts, 1, 0}, {Kind::rts, 0, 100}});
}

void TestResetSequence::neverAssertsBothLinesAtOnceWhileStrapping()
{
    // With the two-transistor wiring, both lines asserted means nothing happens; the moment
    // the chip leaves reset (RTS released) GPIO0 must already be low (DTR asserted).
    FakeSerialLink link;
    ResetSequence::classic(std::chrono::milliseconds(50)).apply(link);
    bool dtr = true;  // Linux asserts both lines when a port opens
    bool rts = true;
    bool strappedAtRelease = false;
    for (const LineChange& change : lineChanges(link)) {
        if (change.line == Kind::dtr)
            dtr = change.level != 0;
        else if (change.level == 0 && rts)
            strappedAtRelease = dtr;
        if (change.line == Kind::rts)
            rts = change.level != 0;
    }
    QVERIFY(strappedAtRelease);
    QVERIFY(!dtr);
    QVERIFY(!rts);
}

void TestResetSequence::pseudoTerminalSkipsThePulses()
{
    FakeSerialLink pty(false);
    QCOMPARE(ResetSequence::classic(std::chrono::milliseconds(50)).apply(pty),
             ResetSequence::Outcome::noModemLines);
    QCOMPARE(ResetSequence::hardReset().apply(pty), ResetSequence::Outcome::noModemLines);
    QVERIFY(pty.events().isEmpty());
    // No time is spent waiting on lines that do not exist.
    QCOMPARE(pty.nowMs(), 0);
}

QTEST_APPLESS_MAIN(TestResetSequence)
#include "tst_resetsequence.moc"
