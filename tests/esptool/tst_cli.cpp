#include "cli/CommandLine.h"
#include "cli/ConsoleReporter.h"

#include <QTest>

#include <cstdio>
#include <cstdlib>

using namespace Qt::StringLiterals;
using esptool::cli::parseCommandLine;
using Action = esptool::cli::ParsedCommandLine::Action;
using esptool::ConsoleReporter;
using esptool::WriteProgress;

namespace {

// One line that names every field of a parsed run, so that a row states all of it at once.
QString summary(const esptool::cli::Invocation& run)
{
    using esptool::FlashSizeChoice;
    QStringList parts;
    parts << u"port=%1"_s.arg(run.port) << u"baud=%1"_s.arg(run.session.baud)
          << (run.session.before == esptool::BeforeReset::defaultReset ? u"before=reset"_s
                                                                       : u"before=none"_s)
          << (run.after == esptool::AfterReset::hardReset ? u"after=reset"_s : u"after=none"_s);
    if (!run.session.baudFallback)
        parts << u"no-fallback"_s;
    if (run.session.force)
        parts << u"force"_s;
    if (run.command == esptool::cli::Command::eraseFlash)
        return (parts << u"erase"_s).join(u' ');
    static const QStringList modes{u"keep"_s, u"qio"_s, u"qout"_s, u"dio"_s, u"dout"_s};
    static const QStringList frequencies{u"keep"_s, u"80m"_s, u"40m"_s, u"26m"_s, u"20m"_s};
    parts << u"write"_s << (run.write.compress ? u"z"_s : u"raw"_s)
          << (run.write.skip ? u"skip"_s : u"all"_s) << modes[int(run.write.mode)]
          << frequencies[int(run.write.frequency)];
    const FlashSizeChoice::Kind size = run.write.size.kind;
    parts << (size == FlashSizeChoice::Kind::detect ? u"detect"_s
              : size == FlashSizeChoice::Kind::keep ? u"keep"_s
                                                    : QString::number(run.write.size.bytes, 16));
    for (const esptool::cli::WriteItem& item : run.items)
        parts << u"%1:%2"_s.arg(QString::number(item.address, 16), item.file);
    return parts.join(u' ');
}

QStringList split(const QString& line)
{
    return line.split(u' ', Qt::SkipEmptyParts);
}

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

class TestCli : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void accepted_data();
    void accepted();
    void rejected_data();
    void rejected();
    void informational_data();
    void informational();
    void progressLines_data();
    void progressLines();
    void linesAreFlushedAsTheyCome();
};

void TestCli::accepted_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("expected");

    // Exactly as the app builds them.
    QTest::newRow("underscore erase")
        << split(u"--port P --before no_reset --after no_reset erase_flash"_s)
        << u"port=P baud=115200 before=none after=none erase"_s;
    QTest::newRow("defaults") << split(u"-p P write-flash 0x1000 boot.bin"_s)
                              << u"port=P baud=115200 before=reset after=reset write raw skip keep "
                                 "keep keep 1000:boot.bin"_s;
    QTest::newRow("equals form and short options")
        << split(u"--port=/dev/ttyACM0 -b 0x70800 -c ESP32 write-flash -fm qio -ff 40m "
                 "--flash-size=8MB -u 4096 a.bin 0x10000 b.bin"_s)
        << u"port=/dev/ttyACM0 baud=460800 before=reset after=reset write raw skip qio 40m 800000 "
           "1000:a.bin 10000:b.bin"_s;
    QTest::newRow("options after the pairs, the other flashers' skip option")
        << split(u"--port P write-flash 0x0 a.bin --compress --skip-flashed --flash-size 16MB"_s)
        << u"port=P baud=115200 before=reset after=reset write z skip keep keep 1000000 0:a.bin"_s;
    QTest::newRow("chip auto, forced erase")
        << split(u"--chip auto --port P erase-flash --force"_s)
        << u"port=P baud=115200 before=reset after=reset force erase"_s;
    QTest::newRow("no fall-back, forced write, every byte")
        << split(u"--port P --no-baud-fallback write-flash --force --no-skip 0x0 a.bin"_s)
        << u"port=P baud=115200 before=reset after=reset no-fallback force write raw all keep keep "
           "keep 0:a.bin"_s;
    QTest::newRow("keep size, dout, 20m")
        << split(u"--port P write-flash --flash-size keep --flash-mode dout --flash-freq 20m "
                 "0x8000 parts.bin"_s)
        << u"port=P baud=115200 before=reset after=reset write raw skip dout 20m keep 8000:parts.bin"_s;
}

void TestCli::accepted()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, expected);
    const esptool::cli::ParsedCommandLine parsed = parseCommandLine(arguments);
    QVERIFY2(parsed.action == Action::run, qPrintable(parsed.error));
    QVERIFY(parsed.error.isEmpty());
    QCOMPARE(summary(parsed.invocation), expected);
}

void TestCli::rejected_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("complaint");
    // The arguments, and a word of the complaint.
    static const std::pair<const char16_t*, const char16_t*> rows[] = {
        {u"", u"no command"},
        {u"--port P flash-it", u"flash-it"},
        {u"erase-flash", u"--port"},
        {u"--speed 5 --port P erase-flash", u"--speed"},
        {u"--port", u"needs a value"},
        {u"--port P --baud fast erase-flash", u"fast"},
        {u"--port P --baud 0 erase-flash", u"'0'"},
        {u"--port P --baud 99000000 erase-flash", u"99000000"},
        {u"--chip esp32s3 --port P erase-flash", u"esp32s3"},
        {u"--port P --before usb-reset erase-flash", u"usb-reset"},
        {u"--port P --after soft-reset erase-flash", u"soft-reset"},
        {u"--port P write-flash --compress", u"pair"},
        {u"--port P write-flash 0x0 a.bin 0x1000", u"0x1000"},
        {u"--port P write-flash zero a.bin", u"zero"},
        {u"--port P write-flash 0x100000000 a.bin", u"0x100000000"},
        {u"--port P write-flash 0x1001 a.bin", u"0x1000"},
        {u"--port P write-flash --flash-mode fast 0 a", u"fast"},
        {u"--port P write-flash --flash-freq 60m 0 a", u"60m"},
        {u"--port P write-flash --flash-size 3MB 0 a", u"3MB"},
        {u"--port P write-flash --erase-all 0 a", u"--erase-all"},
        {u"--port P write-flash -z --no-compress 0 a", u"exclude"},
        {u"--port P erase-flash 0x0", u"0x0"},
        {u"--port P --compress write-flash 0 a", u"--compress"},
    };
    for (const auto& [arguments, complaint] : rows) {
        const QString line = QString::fromUtf16(arguments);
        QTest::newRow(qPrintable(line.isEmpty() ? u"nothing"_s : line))
            << split(line) << QString::fromUtf16(complaint);
    }
}

void TestCli::rejected()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, complaint);
    const esptool::cli::ParsedCommandLine parsed = parseCommandLine(arguments);
    QCOMPARE(parsed.action, Action::error);
    QVERIFY2(parsed.error.contains(complaint), qPrintable(parsed.error));
}

void TestCli::informational_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<Action>("action");
    for (const QString& help : {u"--help"_s, u"--port P -h"_s, u"--port P write-flash --help"_s})
        QTest::newRow(qPrintable(help)) << split(help) << Action::help;
    for (const QString& version : {u"version"_s, u"--version"_s})
        QTest::newRow(qPrintable(version)) << split(version) << Action::version;
}

void TestCli::informational()
{
    QFETCH(QStringList, arguments);
    QFETCH(Action, action);
    QCOMPARE(parseCommandLine(arguments).action, action);
}

void TestCli::progressLines_data()
{
    QTest::addColumn<QList<WriteProgress>>("reports");
    QTest::addColumn<QStringList>("lines");
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

void TestCli::progressLines()
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

void TestCli::linesAreFlushedAsTheyCome()
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

QTEST_APPLESS_MAIN(TestCli)
#include "tst_cli.moc"
