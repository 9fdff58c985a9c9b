#include "flasher/Deflate.h"

#include <QRandomGenerator>
#include <QTest>

#include <zlib.h>

using namespace Qt::StringLiterals;

namespace {

QByteArray mixedData(qsizetype size)
{
    QByteArray data;
    QRandomGenerator random(7);
    while (data.size() < size) {
        const quint32 kind = random.bounded(3);
        if (kind == 0) {
            for (int i = 0; i < 1024; ++i)
                data.append(static_cast<char>(random.bounded(256)));
        } else if (kind == 1) {
            data.append(QByteArray(4096, '\xFF'));
        } else {
            data.append("movs r0, #1; bl printf; "_ba.repeated(40));
        }
    }
    data.truncate(size);
    return data;
}

}  // namespace

class TestDeflate : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void isAZlibStream();
    void inflatedSizesAddUpPerBlock_data();
    void inflatedSizesAddUpPerBlock();
};

void TestDeflate::isAZlibStream()
{
    const QByteArray data = mixedData(100000);
    const QByteArray compressed = esptool::deflate::compress(data);
    QVERIFY(compressed.size() < data.size());
    // zlib header (CMF 0x78) and a stream that uncompress() takes whole, Adler-32 included.
    QCOMPARE(quint8(compressed[0]), quint8(0x78));
    QByteArray back(data.size(), '\0');
    auto size = uLongf(back.size());
    QCOMPARE(uncompress(reinterpret_cast<Bytef*>(back.data()), &size,
                        reinterpret_cast<const Bytef*>(compressed.constData()),
                        uLong(compressed.size())),
             Z_OK);
    QCOMPARE(back, data);
}

void TestDeflate::inflatedSizesAddUpPerBlock_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::newRow("mixed 300 KB") << mixedData(300000);
    QTest::newRow("erased 1 MB") << QByteArray(qsizetype{1024} * 1024, '\xFF');
    QTest::newRow("4 bytes") << "\x01\x02\x03\x04"_ba;
}

void TestDeflate::inflatedSizesAddUpPerBlock()
{
    QFETCH(QByteArray, data);
    const QByteArray compressed = esptool::deflate::compress(data);
    const QList<quint32> sizes = esptool::deflate::inflatedSizes(compressed, 0x400);
    QCOMPARE(sizes.size(), (compressed.size() + 0x3FF) / 0x400);
    quint64 total = 0;
    for (const quint32 size : sizes)
        total += size;
    QCOMPARE(total, quint64(data.size()));
}

QTEST_APPLESS_MAIN(TestDeflate)
#include "tst_deflate.moc"
