#include "flash/OutputDecoder.h"

#include <QTest>

using namespace Qt::StringLiterals;

class TestOutputDecoder : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void decodesAcrossReads_data();
    void decodesAcrossReads();
    void holdsBackAnIncompleteCharacter();
};

void TestOutputDecoder::decodesAcrossReads_data()
{
    QTest::addColumn<QList<QByteArray>>("reads");
    QTest::addColumn<QString>("expected");

    QTest::newRow("plain") << QList<QByteArray>{"Connecting...\n"} << u"Connecting...\n"_s;
    QTest::newRow("two-byte character split")
        << QList<QByteArray>{"caf\xc3", "\xa9\n"} << u"café\n"_s;
    QTest::newRow("three-byte character split 1+2")
        << QList<QByteArray>{"\xe2", "\x82\xac"} << u"€"_s;
    QTest::newRow("three-byte character split 2+1")
        << QList<QByteArray>{"\xe2\x82", "\xac"} << u"€"_s;
    QTest::newRow("four-byte character over three reads")
        << QList<QByteArray>{"\xf0\x9f", "\x98", "\x80!"} << u"\U0001F600!"_s;
    QTest::newRow("highest plane, split")
        << QList<QByteArray>{"\xf4\x8f\xbf", "\xbf"} << u"\U0010FFFF"_s;
    QTest::newRow("invalid byte") << QList<QByteArray>{"a\xff"
                                                       "b"}
                                  << u"a\ufffdb"_s;
    QTest::newRow("stray continuation byte at the end")
        << QList<QByteArray>{"a\x80", "b"} << u"a\ufffdb"_s;
    QTest::newRow("incomplete character at the very end")
        << QList<QByteArray>{"a\xe2\x82"} << u"a\ufffd\ufffd"_s;
    QTest::newRow("incomplete character in the middle")
        << QList<QByteArray>{"a\xe2\x82", "\n"} << u"a\ufffd\ufffd\n"_s;
    // Found by fuzz_output_decoder: a pending sequence came out as one U+FFFD at the end but as
    // one per byte anywhere else.
    QTest::newRow("fuzz: incomplete character alone")
        << QList<QByteArray>{"\xef\x94"} << u"\ufffd\ufffd"_s;
    QTest::newRow("carriage return") << QList<QByteArray>{"10%\r20%\r"} << u"10%\n20%\n"_s;
    QTest::newRow("CR LF is one line break") << QList<QByteArray>{"a\r\nb"} << u"a\nb"_s;
    QTest::newRow("CR LF split across reads") << QList<QByteArray>{"a\r", "\nb"} << u"a\nb"_s;
    QTest::newRow("CR then CR LF") << QList<QByteArray>{"a\r", "\r\n"} << u"a\n\n"_s;
    QTest::newRow("CR, LF, LF in three reads") << QList<QByteArray>{"\r", "\n", "\n"} << u"\n\n"_s;
    QTest::newRow("LF LF stays two lines") << QList<QByteArray>{"\n\n"} << u"\n\n"_s;
}

void TestOutputDecoder::decodesAcrossReads()
{
    QFETCH(QList<QByteArray>, reads);
    QFETCH(QString, expected);

    tavix::OutputDecoder decoder;
    QString text;
    for (const QByteArray& read : reads)
        text += decoder.decode(read);
    text += decoder.finish();
    QCOMPARE(text, expected);
}

void TestOutputDecoder::holdsBackAnIncompleteCharacter()
{
    tavix::OutputDecoder decoder;
    QCOMPARE(decoder.decode("ok \xe2\x82"), u"ok "_s);
    QCOMPARE(decoder.decode("\xac"), u"€"_s);
    QCOMPARE(decoder.finish(), QString());
}

QTEST_GUILESS_MAIN(TestOutputDecoder)
#include "tst_outputdecoder.moc"
