#include "CommandLine.h"

#include <QTest>

using namespace esp32sim;
using namespace Qt::StringLiterals;

class CommandLineTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void flashSizes_data();
    void flashSizes();
    void rejected_data();
    void rejected();
};

namespace {

ParsedCommandLine parse(const QStringList& args)
{
    return parseCommandLine(QStringList{u"esp32-sim"_s} + args);
}

}  // namespace

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

QTEST_GUILESS_MAIN(CommandLineTest)
#include "CommandLineTest.moc"
