#include "flash/ShellQuote.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QTest>

using namespace Qt::StringLiterals;

class TestShellQuote : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void quotesOnlyWhatNeedsIt_data()
    {
        QTest::addColumn<QString>("word");
        QTest::addColumn<QString>("expected");

        QTest::newRow("device path") << u"/dev/ttyUSB0"_s << u"/dev/ttyUSB0"_s;
        QTest::newRow("all safe punctuation") << u"_+-=/:.,@"_s << u"_+-=/:.,@"_s;
        QTest::newRow("empty word is written as nothing") << QString() << QString();
        QTest::newRow("accented letters") << u"Ünïcødé"_s << u"Ünïcødé"_s;
        QTest::newRow("combining mark") << u"e\u0301t\u00e9"_s << u"e\u0301t\u00e9"_s;
        QTest::newRow("CJK letters") << u"日本語"_s << u"日本語"_s;
        QTest::newRow("superscript digit") << u"x\u00b2"_s << u"x\u00b2"_s;
        QTest::newRow("tilde") << u"~/x"_s << u"'~/x'"_s;
        QTest::newRow("letter outside the BMP") << u"\U00010400x"_s << u"\U00010400x"_s;
        QTest::newRow("space") << u"Tavix Flash Tool"_s << u"'Tavix Flash Tool'"_s;
        QTest::newRow("single quote") << u"it's"_s << u"'it'\\''s'"_s;
        QTest::newRow("only a quote") << u"'"_s << u"''\\'''"_s;
        QTest::newRow("emoji is a symbol") << u"\U0001F600"_s << u"'\U0001F600'"_s;
        QTest::newRow("no-break space") << u"a\u00a0b"_s << u"'a\u00a0b'"_s;
    }

    void quotesOnlyWhatNeedsIt()
    {
        QFETCH(QString, word);
        QFETCH(QString, expected);
        QCOMPARE(tavix::shell::quoted(word), expected);
    }

    void joinsWordsWithSpaces()
    {
        QCOMPARE(tavix::shell::commandLine({u"/opt/Tavix Flash Tool/esptool_amd64"_s, u"--port"_s,
                                            u"/dev/ttyUSB0"_s, QString(), u"x"_s}),
                 u"'/opt/Tavix Flash Tool/esptool_amd64' --port /dev/ttyUSB0  x"_s);
    }

    // Hands the echoed command line to a real POSIX shell and checks that it sees the same words.
    void shellReadsBackTheSameWords()
    {
        const QStringList alphabet = {
            u"a"_s, u"Z"_s, u"7"_s,  u" "_s,  u"'"_s,  u"\""_s,     u"\\"_s,     u"$"_s,    u"`"_s,
            u"*"_s, u"?"_s, u"\n"_s, u"\t"_s, u"!"_s,  u"#"_s,      u"&"_s,      u";"_s,    u"|"_s,
            u"<"_s, u">"_s, u"("_s,  u")"_s,  u"{"_s,  u"}"_s,      u"["_s,      u"]"_s,    u"~"_s,
            u"%"_s, u"-"_s, u"="_s,  u"/"_s,  u":"_s,  u"."_s,      u","_s,      u"@"_s,    u"_"_s,
            u"+"_s, u"é"_s, u"ß"_s,  u"Ж"_s,  u"日"_s, u"\u0301"_s, u"\u0663"_s, u"$(x)"_s,
        };
        QRandomGenerator random(20261206);
        for (int round = 0; round < 60; ++round) {
            QStringList words;
            const int wordCount = 1 + random.bounded(6);
            for (int w = 0; w < wordCount; ++w) {
                QString word;
                const int length = random.bounded(9);
                for (int c = 0; c < length; ++c)
                    word += alphabet.at(random.bounded(alphabet.size()));
                words.append(word);
            }

            // The record separator cannot occur in the words, so it splits the shell's output.
            const QString script = u"set -- "_s + tavix::shell::commandLine(words) +
                                   u"\nfor a in \"$@\"; do printf '%s\\036' \"$a\"; done"_s;
            QProcess shell;
            shell.start(u"/bin/sh"_s, {u"-c"_s, script});
            QVERIFY2(shell.waitForFinished(10000), qPrintable(script));
            QCOMPARE(shell.exitCode(), 0);

            QStringList seen = QString::fromUtf8(shell.readAllStandardOutput()).split(u'\x1e');
            seen.removeLast();  // after the last separator
            QStringList expected = words;
            expected.removeAll(QString());  // an empty word is echoed as nothing
            QCOMPARE(seen, expected);
        }
    }
};

QTEST_GUILESS_MAIN(TestShellQuote)
#include "tst_shellquote.moc"
