#include "cli/ConsoleReporter.h"

#include <QRegularExpression>
#include <QTest>

#include <cstdio>
#include <cstdlib>

using namespace Qt::StringLiterals;
using esptool::ConsoleReporter;
using esptool::WriteProgress;

namespace {

// Captures what the reporter prints into memory.
class Capture
{
public:
    Capture() { m_stream = open_memstream(&m_buffer, &m_size); }
    ~Capture()
    {
        std::fclose(m_stream);
        std::free(m_buffer);
    }
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;

    std::FILE* stream() const { return m_stream; }
    // Flushing is the reporter's job: what it has not flushed does not show here.
    QStringList lines() const
    {
        return QString::fromUtf8(m_buffer, qsizetype(m_size)).split(u'\n', Qt::SkipEmptyParts);
    }

private:
    std::FILE* m_stream = nullptr;
    char* m_buffer = nullptr;
    std::size_t m_size = 0;
};

// What the app takes from a line: the first number followed by optional space and '%'.
int appPercent(const QString& line)
{
    static const QRegularExpression percent(u"(\\d+)\\s*%"_s);
    const QRegularExpressionMatch match = percent.match(line);
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

}  // namespace

class TestConsoleReporter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void progressLineFormat_data();
    void progressLineFormat();
    void progressRisesToHundredOncePerPercent_data();
    void progressRisesToHundredOncePerPercent();
    void secondRegionStartsAgain();
    void linesAreFlushedAsTheyCome();
    void errorsGoToTheErrorStream();
};

void TestConsoleReporter::progressLineFormat_data()
{
    QTest::addColumn<WriteProgress>("progress");
    QTest::addColumn<QString>("line");
    QTest::newRow("first of eight")
        << WriteProgress{0x10000, 0x10000, 1, 8} << u"Writing at 0x00010000... (12 %)"_s;
    QTest::newRow("last") << WriteProgress{0, 0x3ffc00, 4096, 4096}
                          << u"Writing at 0x003ffc00... (100 %)"_s;
    QTest::newRow("one block") << WriteProgress{0x1000, 0x1000, 1, 1}
                               << u"Writing at 0x00001000... (100 %)"_s;
}

void TestConsoleReporter::progressLineFormat()
{
    QFETCH(WriteProgress, progress);
    QFETCH(QString, line);
    QCOMPARE(ConsoleReporter::progressLine(progress), line);
}

void TestConsoleReporter::progressRisesToHundredOncePerPercent_data()
{
    QTest::addColumn<int>("blocks");
    QTest::newRow("1 block") << 1;
    QTest::newRow("3 blocks") << 3;
    QTest::newRow("100 blocks") << 100;
    QTest::newRow("2409 blocks") << 2409;
}

void TestConsoleReporter::progressRisesToHundredOncePerPercent()
{
    QFETCH(int, blocks);
    Capture out;
    Capture err;
    ConsoleReporter reporter(out.stream(), err.stream());
    for (int done = 1; done <= blocks; ++done)
        reporter.writeProgress(WriteProgress{0, quint32(done - 1) * 0x400, done, blocks});
    const QStringList lines = out.lines();
    QVERIFY(!lines.isEmpty());
    QVERIFY(lines.size() <= 101);  // 0 % (many blocks) up to 100 %
    QVERIFY(lines.size() <= blocks);
    int previous = -1;
    for (const QString& line : lines) {
        const int percent = appPercent(line);
        QVERIFY2(percent > previous, qPrintable(line));
        previous = percent;
    }
    QCOMPARE(previous, 100);
    QVERIFY(err.lines().isEmpty());
}

void TestConsoleReporter::secondRegionStartsAgain()
{
    Capture out;
    Capture err;
    ConsoleReporter reporter(out.stream(), err.stream());
    reporter.writeProgress(WriteProgress{0x1000, 0x1000, 1, 1});
    reporter.writeProgress(WriteProgress{0x8000, 0x8000, 1, 2});
    reporter.writeProgress(WriteProgress{0x8000, 0x8400, 2, 2});
    reporter.writeProgress(WriteProgress{0x10000, 0x10000, 1, 1});
    QCOMPARE(out.lines(), (QStringList{u"Writing at 0x00001000... (100 %)"_s,
                                       u"Writing at 0x00008000... (50 %)"_s,
                                       u"Writing at 0x00008400... (100 %)"_s,
                                       u"Writing at 0x00010000... (100 %)"_s}));
}

void TestConsoleReporter::linesAreFlushedAsTheyCome()
{
    Capture out;
    Capture err;
    ConsoleReporter reporter(out.stream(), err.stream());
    reporter.info(u"Connecting..."_s);
    // open_memstream updates what it shows only on a flush: the line is there without one.
    QCOMPARE(out.lines(), QStringList{u"Connecting..."_s});
    reporter.warning(u"no lines"_s);
    QCOMPARE(out.lines().last(), u"Warning: no lines"_s);
}

void TestConsoleReporter::errorsGoToTheErrorStream()
{
    Capture out;
    Capture err;
    ConsoleReporter reporter(out.stream(), err.stream());
    reporter.error(u"Error: broken."_s);
    QCOMPARE(err.lines(), QStringList{u"Error: broken."_s});
    QVERIFY(out.lines().isEmpty());
}

QTEST_APPLESS_MAIN(TestConsoleReporter)
#include "tst_consolereporter.moc"
