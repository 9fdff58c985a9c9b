#include "flash/ProgressParser.h"

#include <QTest>

#include <optional>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(std::optional<double>)

class TestProgressParser : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readsTheFirstPercentage_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<std::optional<double>>("expected");

        const std::optional<double> none;
        QTest::newRow("older flasher line")
            << u"Writing at 0x00010000... (12 %)"_s << std::optional(12.0);
        QTest::newRow("newer flasher line")
            << u"\rWriting at 0x000013be [>       ]   3.4% 1024/30256 bytes... \n"_s
            << std::optional(3.4);
        QTest::newRow("fraction at the end") << u"100.0%"_s << std::optional(100.0);
        QTest::newRow("fraction before a space") << u"12.5 %"_s << std::optional(12.5);
        QTest::newRow("leading zeros") << u"007 %"_s << std::optional(7.0);
        QTest::newRow("only the first counts") << u"10 % then 20 %"_s << std::optional(10.0);
        QTest::newRow("first of two lines") << u"50%\n60%\n"_s << std::optional(50.0);
        QTest::newRow("above 100 is clamped") << u"150%"_s << std::optional(100.0);
        QTest::newRow("zero") << u"0%"_s << std::optional(0.0);
        QTest::newRow("no-break space") << u"42\u00a0%"_s << std::optional(42.0);
        QTest::newRow("line break before the sign") << u"42\n%"_s << std::optional(42.0);
        QTest::newRow("endless digit run") << QString(400, u'9') + u"%"_s << std::optional(100.0);
        QTest::newRow("fraction beyond a double's reach")
            << u"7."_s + QString(330, u'0') + u"5 %"_s << std::optional(7.0);
        // Found by fuzz_progress_parser: the digits after the 323rd decimal were read as whole
        // ones.
        QTest::newRow("fuzz: long fraction") << u"7.477700"_s + QString(120, u'8') + u"7700"_s +
                                                    QString(174, u'8') + u"000008888880000000774%"_s
                                             << std::optional(7.477700888888889);
        QTest::newRow("no percentage") << u"Connecting...."_s << none;
        QTest::newRow("sign without digits") << u"% done"_s << none;
        QTest::newRow("dot without fraction digits") << u"12. %"_s << none;
        QTest::newRow("Arabic-Indic digits are found, not read") << u"\u0664\u0662%"_s << none;
        QTest::newRow("fullwidth digits are found, not read") << u"\uff14\uff12%"_s << none;
        QTest::newRow("mixed digits are not read") << u"4\u0662%"_s << none;
    }

    void readsTheFirstPercentage()
    {
        QFETCH(QString, text);
        QFETCH(std::optional<double>, expected);
        // -1 stands for none: a percentage read is never below 0.
        QCOMPARE(tavix::progress::firstPercentage(text).value_or(-1.0), expected.value_or(-1.0));
    }
};

QTEST_GUILESS_MAIN(TestProgressParser)
#include "tst_progressparser.moc"
