#include "FlashMemory.h"

#include "Inflater.h"

#include <QTest>

#include <zlib.h>

using namespace esp32sim;
using namespace std::chrono_literals;

class FlashMemoryTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void defaultPatternIsDeterministicAndNotErased();
    void eraseTimes_data();
    void eraseTimes();
    void programTimeCountsPages();
    void inflaterAcceptsAnySplit();
    void inflaterTrailerSplitAcrossPieces();
};

void FlashMemoryTest::defaultPatternIsDeterministicAndNotErased()
{
    const FlashMemory a(1024 * 1024, std::nullopt);
    const FlashMemory b(1024 * 1024, std::nullopt);
    QCOMPARE(a.contents(), b.contents());
    // No byte value dominates and there are no long runs of 0xFF.
    const QByteArray& bytes = a.contents();
    QVERIFY(bytes.count('\xFF') < bytes.size() / 128);
    QVERIFY(!bytes.contains(QByteArray(8, '\xFF')));
    QCOMPARE(quint8(bytes.at(0x12345)), FlashMemory::patternByte(0x12345));
}

void FlashMemoryTest::eraseTimes_data()
{
    QTest::addColumn<quint32>("address");
    QTest::addColumn<quint32>("length");
    QTest::addColumn<quint32>("erasedUpTo");
    QTest::addColumn<qint64>("milliseconds");
    QTest::newRow("nothing") << 0x1000U << 0U << 0x1000U << qint64(0);
    QTest::newRow("one byte, one sector") << 0x1000U << 1U << 0x2000U << qint64(45);
    QTest::newRow("exact sector") << 0x2000U << 0x1000U << 0x3000U << qint64(45);
    QTest::newRow("aligned 64 KiB block") << 0x10000U << 0x10000U << 0x20000U << qint64(150);
    QTest::newRow("block plus a sector") << 0x10000U << 0x10001U << 0x21000U << qint64(195);
    QTest::newRow("unaligned 64 KiB: sectors")
        << 0x1000U << 0x10000U << 0x11000U << qint64(16 * 45);
}

void FlashMemoryTest::eraseTimes()
{
    QFETCH(quint32, address);
    QFETCH(quint32, length);
    QFETCH(quint32, erasedUpTo);
    QFETCH(qint64, milliseconds);
    FlashMemory flash(1024 * 1024, quint8(0));
    QCOMPARE(flash.erase(address, length), Duration(std::chrono::milliseconds(milliseconds)));
    const QByteArray& bytes = flash.contents();
    QCOMPARE(bytes.count('\xFF'), qsizetype(erasedUpTo - address));
    if (erasedUpTo > address) {
        QCOMPARE(bytes.at(address), '\xFF');
        QCOMPARE(bytes.at(erasedUpTo - 1), '\xFF');
    }
}

void FlashMemoryTest::programTimeCountsPages()
{
    FlashMemory flash(0x10000, quint8(0xFF));
    QCOMPARE(flash.program(0, QByteArray(0x400, '\0')).time, Duration(4 * 400us));
    // 0x80 bytes into one page, 0x100 into the next, 0x80 into a third.
    QCOMPARE(flash.program(0x480, QByteArray(0x200, '\0')).time, Duration(3 * 400us));
}

void FlashMemoryTest::inflaterAcceptsAnySplit()
{
    QByteArray data;
    for (int i = 0; i < 20000; ++i)
        data.append(char((i * 7) ^ (i >> 5)));
    uLongf length = compressBound(uLong(data.size()));
    QByteArray stream(qsizetype(length), Qt::Uninitialized);
    compress2(reinterpret_cast<Bytef*>(stream.data()), &length,
              reinterpret_cast<const Bytef*>(data.constData()), uLong(data.size()), 9);
    stream.resize(qsizetype(length));

    for (const qsizetype piece : {qsizetype(1), qsizetype(3), qsizetype(1024), stream.size()}) {
        Inflater inflater;
        QByteArray out;
        for (qsizetype at = 0; at < stream.size(); at += piece) {
            const Inflater::Result r = inflater.push(
                QByteArrayView(stream).sliced(at).first(std::min(piece, stream.size() - at)));
            QVERIFY(!r.error);
            out.append(r.output);
        }
        QVERIFY(inflater.isFinished());
        QCOMPARE(out, data);
        QCOMPARE(inflater.push("x").error, std::optional<RomError>(RomError::inflateFailed));
    }
}

void FlashMemoryTest::inflaterTrailerSplitAcrossPieces()
{
    const QByteArray data(5000, 'a');
    uLongf length = compressBound(uLong(data.size()));
    QByteArray stream(qsizetype(length), Qt::Uninitialized);
    compress2(reinterpret_cast<Bytef*>(stream.data()), &length,
              reinterpret_cast<const Bytef*>(data.constData()), uLong(data.size()), 9);
    stream.resize(qsizetype(length));
    stream[stream.size() - 1] = char(stream.back() ^ 1);

    Inflater inflater;
    const Inflater::Result first = inflater.push(QByteArrayView(stream).chopped(2));
    QVERIFY(!first.error);
    QVERIFY(!inflater.isFinished());
    const Inflater::Result second = inflater.push(QByteArrayView(stream).last(2));
    QCOMPARE(second.error, std::optional<RomError>(RomError::inflateAdlerMismatch));
}

QTEST_GUILESS_MAIN(FlashMemoryTest)
#include "FlashMemoryTest.moc"
