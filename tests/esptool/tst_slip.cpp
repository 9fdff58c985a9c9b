#include "protocol/Slip.h"

#include <QTest>

using namespace Qt::StringLiterals;
using esptool::slip::decode;
using esptool::slip::encode;
using esptool::slip::Frame;

class TestSlip : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void encodeEscapes_data();
    void encodeEscapes();
    void decodeSplitsFrames_data();
    void decodeSplitsFrames();
    void decodeKeepsUnfinishedFrame();
};

void TestSlip::encodeEscapes_data()
{
    QTest::addColumn<QByteArray>("packet");
    QTest::addColumn<QByteArray>("wire");
    QTest::newRow("empty") << QByteArray() << "\xC0\xC0"_ba;
    QTest::newRow("plain") << "\x01\x02"_ba
                           << "\xC0\x01\x02\xC0"_ba;
    QTest::newRow("frame end") << "\xC0"_ba
                               << "\xC0\xDB\xDC\xC0"_ba;
    QTest::newRow("escape") << "\xDB"_ba
                            << "\xC0\xDB\xDD\xC0"_ba;
    QTest::newRow("escaped pair order") << "\xDB\xC0"_ba
                                        << "\xC0\xDB\xDD\xDB\xDC\xC0"_ba;
    QTest::newRow("look-alikes stay") << "\xDC\xDD"_ba
                                      << "\xC0\xDC\xDD\xC0"_ba;
}

void TestSlip::encodeEscapes()
{
    QFETCH(QByteArray, packet);
    QFETCH(QByteArray, wire);
    QCOMPARE(encode(packet), wire);
}

void TestSlip::decodeSplitsFrames_data()
{
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<QList<Frame>>("frames");
    QTest::addColumn<qsizetype>("consumed");

    QTest::newRow("one frame") << "\xC0\x01\x02\xC0"_ba << QList<Frame>{{"\x01\x02"_ba, false}}
                               << qsizetype(4);
    QTest::newRow("escapes undone")
        << "\xC0\xDB\xDC\xDB\xDD\xC0"_ba << QList<Frame>{{"\xC0\xDB"_ba, false}} << qsizetype(6);
    // The ROM closes one frame and opens the next with its own delimiter.
    QTest::newRow("back to back") << "\xC0\x01\xC0\xC0\x02\x03\xC0"_ba
                                  << QList<Frame>{{"\x01"_ba, false}, {"\x02\x03"_ba, false}}
                                  << qsizetype(7);
    QTest::newRow("shared delimiter")
        << "\xC0\x01\xC0\x02\xC0"_ba << QList<Frame>{{"\x01"_ba, false}, {"\x02"_ba, false}}
        << qsizetype(5);
    QTest::newRow("noise before a frame")
        << "boot\r\n\xC0\x05\xC0"_ba << QList<Frame>{{"boot\r\n"_ba, false}, {"\x05"_ba, false}}
        << qsizetype(9);
    QTest::newRow("bad escape kept and flagged")
        << "\xC0\x01\xDB\x41\x02\xC0"_ba << QList<Frame>{{"\x01\xDB\x41\x02"_ba, true}}
        << qsizetype(6);
    QTest::newRow("escape at frame end")
        << "\xC0\x01\xDB\xC0"_ba << QList<Frame>{{"\x01\xDB"_ba, true}} << qsizetype(4);
    QTest::newRow("only delimiters") << "\xC0\xC0\xC0"_ba << QList<Frame>{} << qsizetype(3);
    QTest::newRow("nothing") << QByteArray() << QList<Frame>{} << qsizetype(0);
}

void TestSlip::decodeSplitsFrames()
{
    QFETCH(QByteArray, wire);
    QFETCH(QList<Frame>, frames);
    QFETCH(qsizetype, consumed);
    const esptool::slip::DecodeResult result = decode(wire);
    QCOMPARE(result.frames.size(), frames.size());
    for (qsizetype i = 0; i < frames.size(); ++i) {
        QCOMPARE(result.frames[i].bytes, frames[i].bytes);
        QCOMPARE(result.frames[i].badEscape, frames[i].badEscape);
    }
    QCOMPARE(result.consumed, consumed);
}

void TestSlip::decodeKeepsUnfinishedFrame()
{
    const QByteArray wire = "\xC0\x01\x02\xC0\xC0\x03\xDB"_ba;
    const esptool::slip::DecodeResult first = decode(wire);
    QCOMPARE(first.frames.size(), 1);
    QCOMPARE(first.consumed, 5);
    // The rest, completed by the next bytes, decodes on its own, escape split included.
    const QByteArray rest = wire.mid(first.consumed) + "\xDC\xC0"_ba;
    const esptool::slip::DecodeResult second = decode(rest);
    QCOMPARE(second.frames.size(), 1);
    QCOMPARE(second.frames[0].bytes, "\x03\xC0"_ba);
    QVERIFY(!second.frames[0].badEscape);
}

QTEST_APPLESS_MAIN(TestSlip)
#include "tst_slip.moc"
