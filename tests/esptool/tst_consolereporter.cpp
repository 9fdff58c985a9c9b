#include "cli/ConsoleReporter.h"

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

}  // namespace

class TestConsoleReporter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void progressLines_data();
    void progressLines();
    void linesAreFlushedAsTheyCome();
};

void TestConsoleReporter::progressLines_data()
{
    QTest::addColumn<QList<WriteProgress>>("reports");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("one line per whole percent")
        << QList<WriteProgress>{{0x10000, 0x10000, 0, 800},
                                {0x10000, 0x10000, 1, 800},
                                {0x10000, 0x10000, 8, 800},
                                {0x10000, 0x10400, 100, 800},
                                {0x10000, 0x11000, 800, 800}}
        << QStringList{u"Writing at 0x00010000... (0 %)"_s, u"Writing at 0x00010000... (1 %)"_s,
                       u"Writing at 0x00010400... (12 %)"_s, u"Writing at 0x00011000... (100 %)"_s};
    QTest::newRow("never a step back")
        << QList<WriteProgress>{{0, 0, 0, 4}, {0, 0x1000, 2, 4}, {0, 0x0, 1, 4}, {0, 0x1800, 3, 4}}
        << QStringList{u"Writing at 0x00000000... (0 %)"_s, u"Writing at 0x00001000... (50 %)"_s,
                       u"Writing at 0x00001800... (75 %)"_s};
    QTest::newRow("each region from 0 to 100")
        << QList<WriteProgress>{{0x1000, 0x1000, 0, 2},
                                {0x1000, 0x1000, 2, 2},
                                {0x8000, 0x8000, 0, 2},
                                {0x8000, 0x8000, 2, 2}}
        << QStringList{u"Writing at 0x00001000... (0 %)"_s, u"Writing at 0x00001000... (100 %)"_s,
                       u"Writing at 0x00008000... (0 %)"_s, u"Writing at 0x00008000... (100 %)"_s};
}

void TestConsoleReporter::progressLines()
{
    QFETCH(QList<WriteProgress>, reports);
    QFETCH(QStringList, lines);
    Capture out;
    Capture err;
    ConsoleReporter reporter(out.stream(), err.stream());
    for (const WriteProgress& progress : reports)
        reporter.writeProgress(progress);
    QCOMPARE(out.lines(), lines);
    QVERIFY(err.lines().isEmpty());
}

void TestConsoleReporter::linesAreFlushedAsTheyCome()
{
    Capture out;
    Capture err;
    ConsoleReporter reporter(out.stream(), err.stream());
    reporter.info(u"Connecting..."_s);
    // open_memstream updates what it shows only on a flush: the line is there without one.
    QCOMPARE(out.lines(), QStringList{u"Connecting..."_s});
    reporter.error(u"Error: broken."_s);
    QCOMPARE(err.lines(), QStringList{u"Error: broken."_s});
}

QTEST_APPLESS_MAIN(TestConsoleReporter)
#include "tst_consolereporter.moc"
