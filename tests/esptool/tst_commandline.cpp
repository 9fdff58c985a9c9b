#include "cli/CommandLine.h"

#include <QTest>

using namespace Qt::StringLiterals;
using esptool::cli::parseCommandLine;
using Action = esptool::cli::ParsedCommandLine::Action;

namespace {

// One line that names every field of a parsed run, so that a row states all of it at once.
QString summary(const esptool::cli::Invocation& run)
{
    using esptool::FlashSizeChoice;
    QStringList parts;
    parts << u"port=%1"_s.arg(run.port) << u"baud=%1"_s.arg(run.baud)
          << (run.before == esptool::BeforeReset::defaultReset ? u"before=reset"_s
                                                               : u"before=none"_s)
          << (run.after == esptool::AfterReset::hardReset ? u"after=reset"_s : u"after=none"_s);
    if (run.command == esptool::cli::Command::eraseFlash)
        return (parts << u"erase"_s).join(u' ');
    static const QStringList modes{u"keep"_s, u"qio"_s, u"qout"_s, u"dio"_s, u"dout"_s};
    static const QStringList frequencies{u"keep"_s, u"80m"_s, u"40m"_s, u"26m"_s, u"20m"_s};
    parts << u"write"_s << (run.write.compress ? u"z"_s : u"raw"_s) << modes[int(run.write.mode)]
          << frequencies[int(run.write.frequency)];
    switch (run.write.size.kind) {
    case FlashSizeChoice::Kind::detect:
        parts << u"detect"_s;
        break;
    case FlashSizeChoice::Kind::keep:
        parts << u"keep"_s;
        break;
    case FlashSizeChoice::Kind::fixed:
        parts << QString::number(run.write.size.bytes, 16);
        break;
    }
    for (const esptool::cli::WriteItem& item : run.items)
        parts << u"%1:%2"_s.arg(QString::number(item.address, 16), item.file);
    return parts.join(u' ');
}

QStringList split(const QString& line)
{
    return line.split(u' ', Qt::SkipEmptyParts);
}

}  // namespace

class TestCommandLine : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void accepted_data();
    void accepted();
    void rejected_data();
    void rejected();
    void informational_data();
    void informational();
    void usageNamesTheCommands();
};

void TestCommandLine::accepted_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("expected");

    // Exactly as the app builds them.
    QTest::newRow("app flash line")
        << split(u"--chip esp32 --port /dev/ttyUSB0 --baud 1500000 --before default-reset "
                 "--after hard-reset write-flash --compress --flash-mode dio --flash-freq 80m "
                 "--flash-size detect 0x0"_s) +
               QStringList{u"/tmp/Tavix Flash/image.bin"_s}
        << u"port=/dev/ttyUSB0 baud=1500000 before=reset after=reset write z dio 80m detect "
           "0:/tmp/Tavix Flash/image.bin"_s;
    QTest::newRow("app erase line")
        << split(u"--chip esp32 --port /dev/ttyUSB0 --baud 921600 --before default-reset "
                 "--after hard-reset erase-flash"_s)
        << u"port=/dev/ttyUSB0 baud=921600 before=reset after=reset erase"_s;
    QTest::newRow("underscore spellings")
        << split(u"--chip esp32 --port P --baud 460800 --before default_reset --after hard_reset "
                 "write_flash -z --flash_mode dio --flash_freq 80m --flash_size detect 0x0 f"_s)
        << u"port=P baud=460800 before=reset after=reset write z dio 80m detect 0:f"_s;
    QTest::newRow("underscore erase")
        << split(u"--port P --before no_reset --after no_reset erase_flash"_s)
        << u"port=P baud=115200 before=none after=none erase"_s;
    QTest::newRow("defaults") << split(u"-p P write-flash 0x1000 boot.bin"_s)
                              << u"port=P baud=115200 before=reset after=reset write raw keep "
                                 "keep keep 1000:boot.bin"_s;
    QTest::newRow("equals form and short options")
        << split(u"--port=/dev/ttyACM0 -b 0x70800 -c ESP32 write-flash -fm qio -ff 40m "
                 "--flash-size=8MB -u 4096 a.bin 0x10000 b.bin"_s)
        << u"port=/dev/ttyACM0 baud=460800 before=reset after=reset write raw qio 40m 800000 "
           "1000:a.bin 10000:b.bin"_s;
    QTest::newRow("options after the pairs")
        << split(u"--port P write-flash 0x0 a.bin --compress --flash-size 16MB"_s)
        << u"port=P baud=115200 before=reset after=reset write z keep keep 1000000 0:a.bin"_s;
    QTest::newRow("chip auto") << split(u"--chip auto --port P erase-flash"_s)
                               << u"port=P baud=115200 before=reset after=reset erase"_s;
    QTest::newRow("keep size, dout, 20m")
        << split(u"--port P write-flash --flash-size keep --flash-mode dout --flash-freq 20m "
                 "0x8000 parts.bin"_s)
        << u"port=P baud=115200 before=reset after=reset write raw dout 20m keep 8000:parts.bin"_s;
}

void TestCommandLine::accepted()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, expected);
    const esptool::cli::ParsedCommandLine parsed = parseCommandLine(arguments);
    QVERIFY2(parsed.action == Action::run, qPrintable(parsed.error));
    QVERIFY(parsed.error.isEmpty());
    QCOMPARE(summary(parsed.invocation), expected);
}

void TestCommandLine::rejected_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("complaint");

    QTest::newRow("nothing") << QStringList() << u"no command"_s;
    QTest::newRow("unknown command") << split(u"--port P flash-it"_s) << u"flash-it"_s;
    QTest::newRow("no port") << split(u"erase-flash"_s) << u"--port"_s;
    QTest::newRow("unknown global option")
        << split(u"--speed 5 --port P erase-flash"_s) << u"--speed"_s;
    QTest::newRow("missing value") << split(u"--port"_s) << u"needs a value"_s;
    QTest::newRow("baud not a number") << split(u"--port P --baud fast erase-flash"_s) << u"fast"_s;
    QTest::newRow("baud zero") << split(u"--port P --baud 0 erase-flash"_s) << u"'0'"_s;
    QTest::newRow("baud too high")
        << split(u"--port P --baud 99000000 erase-flash"_s) << u"99000000"_s;
    QTest::newRow("other chip") << split(u"--chip esp32s3 --port P erase-flash"_s) << u"esp32s3"_s;
    QTest::newRow("bad before") << split(u"--port P --before usb-reset erase-flash"_s)
                                << u"usb-reset"_s;
    QTest::newRow("bad after") << split(u"--port P --after soft-reset erase-flash"_s)
                               << u"soft-reset"_s;
    QTest::newRow("no pairs") << split(u"--port P write-flash --compress"_s) << u"pair"_s;
    QTest::newRow("odd pairs") << split(u"--port P write-flash 0x0 a.bin 0x1000"_s) << u"0x1000"_s;
    QTest::newRow("address not a number")
        << split(u"--port P write-flash zero a.bin"_s) << u"zero"_s;
    QTest::newRow("address too big")
        << split(u"--port P write-flash 0x100000000 a.bin"_s) << u"0x100000000"_s;
    QTest::newRow("address off sector")
        << split(u"--port P write-flash 0x1001 a.bin"_s) << u"0x1000"_s;
    QTest::newRow("bad mode") << split(u"--port P write-flash --flash-mode fast 0 a"_s)
                              << u"fast"_s;
    QTest::newRow("bad freq") << split(u"--port P write-flash --flash-freq 60m 0 a"_s) << u"60m"_s;
    QTest::newRow("bad size") << split(u"--port P write-flash --flash-size 3MB 0 a"_s) << u"3MB"_s;
    QTest::newRow("unknown write option")
        << split(u"--port P write-flash --erase-all 0 a"_s) << u"--erase-all"_s;
    QTest::newRow("compress both ways")
        << split(u"--port P write-flash -z --no-compress 0 a"_s) << u"exclude"_s;
    QTest::newRow("erase with argument") << split(u"--port P erase-flash 0x0"_s) << u"0x0"_s;
    QTest::newRow("command options before the command")
        << split(u"--port P --compress write-flash 0 a"_s) << u"--compress"_s;
}

void TestCommandLine::rejected()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, complaint);
    const esptool::cli::ParsedCommandLine parsed = parseCommandLine(arguments);
    QCOMPARE(parsed.action, Action::error);
    QVERIFY2(parsed.error.contains(complaint), qPrintable(parsed.error));
}

void TestCommandLine::informational_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<Action>("action");
    QTest::newRow("--help") << split(u"--help"_s) << Action::help;
    QTest::newRow("-h after options") << split(u"--port P -h"_s) << Action::help;
    QTest::newRow("help of a command") << split(u"--port P write-flash --help"_s) << Action::help;
    QTest::newRow("version command") << split(u"version"_s) << Action::version;
    QTest::newRow("--version") << split(u"--version"_s) << Action::version;
}

void TestCommandLine::informational()
{
    QFETCH(QStringList, arguments);
    QFETCH(Action, action);
    QCOMPARE(parseCommandLine(arguments).action, action);
}

void TestCommandLine::usageNamesTheCommands()
{
    const QString usage = esptool::cli::usageLine();
    QVERIFY(usage.startsWith(u"usage:"_s));
    QVERIFY(!usage.contains(u'\n'));
    for (const QString& word : {u"write-flash"_s, u"erase-flash"_s, u"--port"_s})
        QVERIFY(usage.contains(word));
    QVERIFY(esptool::cli::helpText().contains(u"--flash-size"_s));
}

QTEST_APPLESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
