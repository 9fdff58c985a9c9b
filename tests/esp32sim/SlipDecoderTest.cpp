#include "SlipDecoder.h"

#include <QTest>

using namespace esp32sim;

namespace {

struct Decoded
{
    QList<QByteArray> frames;
    QList<qint64> wireLengths;
    int badEscapes = 0;
    int oversized = 0;
};

Decoded decodeAll(SlipDecoder& decoder, const QByteArray& wire)
{
    Decoded d;
    for (const char c : wire) {
        switch (decoder.push(c)) {
        case SlipDecoder::Event::frame:
            d.frames.append(decoder.payload());
            d.wireLengths.append(decoder.wireLength());
            break;
        case SlipDecoder::Event::badEscape:
            ++d.badEscapes;
            break;
        case SlipDecoder::Event::oversized:
            ++d.oversized;
            break;
        case SlipDecoder::Event::none:
            break;
        }
    }
    return d;
}

}  // namespace

class SlipDecoderTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void encodeEscapes();
    void decode_data();
    void decode();
    void badEscapes();
    void oversizedFrame();
};

void SlipDecoderTest::encodeEscapes()
{
    QCOMPARE(slipEncode(QByteArray::fromHex("01c0db02")), QByteArray::fromHex("c001dbdcdbdd02c0"));
    QCOMPARE(slipEncode({}), QByteArray::fromHex("c0c0"));
}

void SlipDecoderTest::decode_data()
{
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<QList<QByteArray>>("frames");
    QTest::addColumn<QList<qint64>>("wireLengths");

    QTest::newRow("one frame") << QByteArray::fromHex("c00102c0")
                               << QList<QByteArray>{QByteArray::fromHex("0102")}
                               << QList<qint64>{4};
    QTest::newRow("escapes") << QByteArray::fromHex("c0dbdc01dbddc0")
                             << QList<QByteArray>{QByteArray::fromHex("c001db")}
                             << QList<qint64>{7};
    QTest::newRow("back to back, each with its delimiters")
        << QByteArray::fromHex("c001c0c00203c0")
        << QList<QByteArray>{QByteArray::fromHex("01"), QByteArray::fromHex("0203")}
        << QList<qint64>{3, 4};
    QTest::newRow("noise before the first delimiter")
        << QByteArray::fromHex("41420d0ac00102c0") << QList<QByteArray>{QByteArray::fromHex("0102")}
        << QList<qint64>{4};
    QTest::newRow("empty frames are skipped")
        << QByteArray::fromHex("c0c0c0c00ac0") << QList<QByteArray>{QByteArray::fromHex("0a")}
        << QList<qint64>{3};
    QTest::newRow("noise between frames is a frame of its own")
        << QByteArray::fromHex("c001c04142c002c0")
        << QList<QByteArray>{QByteArray::fromHex("01"), QByteArray::fromHex("4142"),
                             QByteArray::fromHex("02")}
        << QList<qint64>{3, 4, 3};
    QTest::newRow("unterminated frame is not delivered")
        << QByteArray::fromHex("c00102") << QList<QByteArray>{} << QList<qint64>{};
}

void SlipDecoderTest::decode()
{
    QFETCH(QByteArray, wire);
    QFETCH(QList<QByteArray>, frames);
    QFETCH(QList<qint64>, wireLengths);
    SlipDecoder decoder(64);
    const Decoded d = decodeAll(decoder, wire);
    QCOMPARE(d.frames, frames);
    QCOMPARE(d.wireLengths, wireLengths);
    QCOMPARE(d.badEscapes, 0);
}

void SlipDecoderTest::badEscapes()
{
    SlipDecoder decoder(64);
    // DB 01 spoils the first frame; DB C0 spoils the second; the third survives.
    const Decoded d = decodeAll(decoder, QByteArray::fromHex("c001db0102c0c003dbc0c004c0"));
    QCOMPARE(d.badEscapes, 2);
    QCOMPARE(d.frames, QList<QByteArray>{QByteArray::fromHex("04")});
    // Encoding and decoding are inverse on every byte value.
    QByteArray all;
    for (int i = 0; i < 256; ++i)
        all.append(char(i));
    SlipDecoder roomy(all.size());
    QCOMPARE(decodeAll(roomy, slipEncode(all)).frames, QList<QByteArray>{all});
}

void SlipDecoderTest::oversizedFrame()
{
    SlipDecoder decoder(4);
    const Decoded d = decodeAll(decoder, QByteArray::fromHex("c00102030405c0c00102c0"));
    QCOMPARE(d.oversized, 1);
    QCOMPARE(d.frames, QList<QByteArray>{QByteArray::fromHex("0102")});
}

QTEST_GUILESS_MAIN(SlipDecoderTest)
#include "SlipDecoderTest.moc"
