#include "CommandLine.h"

#include <QTest>

using namespace esp32sim;
using namespace Qt::StringLiterals;

class CommandLineTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void defaults();
    void everyOption();
    void flashSizes_data();
    void flashSizes();
    void rejected_data();
    void rejected();
    void help();
};

namespace {

ParsedCommandLine parse(const QStringList& args)
{
    return parseCommandLine(QStringList{u"esp32-sim"_s} + args);
}

}  // namespace

void CommandLineTest::defaults()
{
    const ParsedCommandLine parsed = parse({});
    QVERIFY2(parsed.options, qPrintable(parsed.error));
    const SimulatorOptions& sim = parsed.options->simulator;
    QCOMPARE(sim.flashSize, 4U * 1024 * 1024);
    QCOMPARE(sim.effectiveJedecId(), 0x001640EFU);
    QCOMPARE(sim.chipMagic, 0x00F01D83U);
    QVERIFY(!sim.fill);
    QVERIFY(!sim.timing);
    QVERIFY(!sim.checkLineBaud);
    QVERIFY(!sim.faults.noSync);
    QVERIFY(!sim.faults.dropAfterBytes && !sim.faults.corruptReply);
    QVERIFY(!sim.faults.writeErrorBlock && !sim.faults.writeErrorTimes);
    QCOMPARE(sim.unsupportedRepeats, 1);
    QVERIFY(parsed.options->dumpPath.isEmpty() && parsed.options->statsPath.isEmpty());
}

void CommandLineTest::everyOption()
{
    const ParsedCommandLine parsed = parse({u"--flash-size"_s,
                                            u"16MB"_s,
                                            u"--jedec-id"_s,
                                            u"0x00164020"_s,
                                            u"--chip-magic"_s,
                                            u"1B31506F"_s,
                                            u"--timing"_s,
                                            u"--check-baud"_s,
                                            u"--no-sync"_s,
                                            u"--drop-after"_s,
                                            u"5000"_s,
                                            u"--corrupt-reply"_s,
                                            u"3"_s,
                                            u"--write-error-block"_s,
                                            u"0"_s,
                                            u"--write-error-times"_s,
                                            u"2"_s,
                                            u"--fill"_s,
                                            u"0xFF"_s,
                                            u"--efuse"_s,
                                            u"5=0x00000040"_s,
                                            u"--unsupported-repeats"_s,
                                            u"8"_s,
                                            u"--dump"_s,
                                            u"/tmp/d.bin"_s,
                                            u"--stats"_s,
                                            u"/tmp/s.json"_s});
    QVERIFY2(parsed.options, qPrintable(parsed.error));
    const SimulatorOptions& sim = parsed.options->simulator;
    QCOMPARE(sim.flashSize, 16U * 1024 * 1024);
    QCOMPARE(sim.effectiveJedecId(), 0x00164020U);
    QCOMPARE(sim.chipMagic, 0x1B31506FU);
    QVERIFY(sim.timing);
    QVERIFY(sim.checkLineBaud);
    QVERIFY(sim.faults.noSync);
    QCOMPARE(sim.faults.dropAfterBytes.value_or(0), 5000);
    QCOMPARE(sim.faults.corruptReply.value_or(0), 3);
    QCOMPARE(sim.faults.writeErrorBlock.value_or(99), 0U);
    QCOMPARE(sim.faults.writeErrorTimes.value_or(0), 2);
    QCOMPARE(sim.fill.value_or(0), quint8(0xFF));
    QCOMPARE(sim.efuseWords.at(5).value_or(0), 0x40U);
    QVERIFY(!sim.efuseWords.at(4));
    QCOMPARE(sim.unsupportedRepeats, 8);
    QCOMPARE(parsed.options->dumpPath, u"/tmp/d.bin"_s);
    QCOMPARE(parsed.options->statsPath, u"/tmp/s.json"_s);
}

void CommandLineTest::flashSizes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<quint32>("size");
    QTest::addColumn<quint32>("jedec");
    QTest::newRow("1MB") << u"1MB"_s << 0x100000U << 0x001440EFU;
    QTest::newRow("2MB") << u"2MB"_s << 0x200000U << 0x001540EFU;
    QTest::newRow("8mb") << u"8mb"_s << 0x800000U << 0x001740EFU;
    QTest::newRow("16MB") << u"16MB"_s << 0x1000000U << 0x001840EFU;
}

void CommandLineTest::flashSizes()
{
    QFETCH(QString, text);
    QFETCH(quint32, size);
    QFETCH(quint32, jedec);
    const ParsedCommandLine parsed = parse({u"--flash-size"_s, text});
    QVERIFY2(parsed.options, qPrintable(parsed.error));
    QCOMPARE(parsed.options->simulator.flashSize, size);
    QCOMPARE(parsed.options->simulator.effectiveJedecId(), jedec);
}

void CommandLineTest::rejected_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("unknown size") << QStringList{u"--flash-size"_s, u"3MB"_s};
    QTest::newRow("bytes as size") << QStringList{u"--flash-size"_s, u"4194304"_s};
    QTest::newRow("not hex") << QStringList{u"--jedec-id"_s, u"0xZZ"_s};
    QTest::newRow("empty hex") << QStringList{u"--chip-magic"_s, u"0x"_s};
    QTest::newRow("fill too big") << QStringList{u"--fill"_s, u"256"_s};
    QTest::newRow("drop after zero") << QStringList{u"--drop-after"_s, u"0"_s};
    QTest::newRow("negative reply") << QStringList{u"--corrupt-reply"_s, u"-1"_s};
    QTest::newRow("block not a number") << QStringList{u"--write-error-block"_s, u"two"_s};
    QTest::newRow("efuse word 7") << QStringList{u"--efuse"_s, u"7=1"_s};
    QTest::newRow("efuse without value") << QStringList{u"--efuse"_s, u"3"_s};
    QTest::newRow("missing value") << QStringList{u"--dump"_s};
    QTest::newRow("unknown option") << QStringList{u"--baud"_s, u"115200"_s};
    QTest::newRow("positional") << QStringList{u"/dev/ttyUSB0"_s};
}

void CommandLineTest::rejected()
{
    QFETCH(QStringList, args);
    const ParsedCommandLine parsed = parse(args);
    QVERIFY(!parsed.options);
    QVERIFY(!parsed.helpRequested);
    QVERIFY(!parsed.error.isEmpty());
}

void CommandLineTest::help()
{
    const ParsedCommandLine parsed = parse({u"--help"_s});
    QVERIFY(parsed.helpRequested);
    QVERIFY(!parsed.options);
    for (const char* option :
         {"--flash-size", "--jedec-id", "--chip-magic", "--timing", "--check-baud", "--no-sync",
          "--drop-after", "--corrupt-reply", "--write-error-block", "--fill", "--dump", "--stats"})
        QVERIFY2(commandLineHelp().contains(QLatin1StringView(option)), option);
}

QTEST_GUILESS_MAIN(CommandLineTest)
#include "CommandLineTest.moc"
