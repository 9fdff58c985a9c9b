#include <QCryptographicHash>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

using namespace Qt::StringLiterals;

namespace {

constexpr int runTimeoutMs = 60000;

quint32 le32(const QByteArray& b, qsizetype at)
{
    return qFromLittleEndian<quint32>(b.constData() + at);
}

quint16 le16(const QByteArray& b, qsizetype at)
{
    return qFromLittleEndian<quint16>(b.constData() + at);
}

QByteArray generate(const QString& path)
{
    QProcess gen;
    gen.start(QStringLiteral(FIRMWARE_GENERATOR_PATH), {path});
    if (!gen.waitForFinished(runTimeoutMs) || gen.exitStatus() != QProcess::NormalExit ||
        gen.exitCode() != 0)
        return {};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

struct ParsedImage
{
    bool valid = false;
    QString problem;
    int segments = 0;
    quint32 entry = 0;
    qsizetype length = 0;  // header to the end of the hash
    QList<quint32> loadAddresses;
};

// An ESP32 image parsed by the rules of the format, independently of the generator.
ParsedImage parseImage(const QByteArray& file, qsizetype start)
{
    ParsedImage image;
    const auto fail = [&image](const QString& problem) {
        image.problem = problem;
        return image;
    };
    const QByteArray h = file.mid(start, 24);
    if (h.size() < 24 || quint8(h[0]) != 0xE9)
        return fail(u"no 0xE9 magic"_s);
    image.segments = quint8(h[1]);
    if (quint8(h[2]) != 2 || quint8(h[3]) != 0x4F)
        return fail(u"not DIO / 16MB / 80MHz"_s);
    image.entry = le32(h, 4);
    if (quint8(h[8]) != 0xEE || le16(h, 12) != 0 || le16(h, 17) < le16(h, 15) || le16(h, 17) == 0)
        return fail(u"bad extended header"_s);
    const bool hashAppended = quint8(h[23]) == 1;
    qsizetype at = start + 24;
    quint8 checksum = 0xEF;
    for (int i = 0; i < image.segments; ++i) {
        if (at + 8 > file.size())
            return fail(u"segment header past the end"_s);
        image.loadAddresses.append(le32(file, at));
        const quint32 length = le32(file, at + 4);
        if (length % 4 != 0 || at + 8 + length > file.size())
            return fail(u"bad segment length"_s);
        for (qsizetype j = at + 8; j < at + 8 + length; ++j)
            checksum ^= quint8(file[j]);
        at += 8 + length;
    }
    for (; (at - start) % 16 != 15; ++at) {
        if (file.at(at) != '\0')
            return fail(u"padding not zero"_s);
    }
    if (quint8(file.at(at++)) != checksum)
        return fail(u"checksum byte wrong"_s);
    if (hashAppended) {
        const QByteArray digest =
            QCryptographicHash::hash(file.mid(start, at - start), QCryptographicHash::Sha256);
        if (file.mid(at, 32) != digest)
            return fail(u"SHA-256 wrong"_s);
        at += 32;
    }
    image.length = at - start;
    image.valid = true;
    return image;
}

}  // namespace

class TestFirmwareImage : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_image = generate(m_dir.filePath(u"first.bin"_s));
        QVERIFY(!m_image.isEmpty());
    }

    void deterministic() { QCOMPARE(generate(m_dir.filePath(u"second.bin"_s)), m_image); }

    void bootloaderImage()
    {
        const ParsedImage boot = parseImage(m_image, 0x1000);
        QVERIFY2(boot.valid, qPrintable(boot.problem));
        QCOMPARE(boot.segments, 3);
        QVERIFY(boot.entry >= 0x40080000 && boot.entry < 0x400A0000);
        QVERIFY(0x1000 + boot.length <= 0x8000);
    }

    void partitionTable()
    {
        const QByteArray table = m_image.mid(0x8000, 0xC00);
        qsizetype at = 0;
        QStringList labels;
        quint32 appOffset = 0;
        while (quint8(table[at]) == 0xAA && quint8(table[at + 1]) == 0x50) {
            const auto type = quint8(table[at + 2]);
            const quint32 offset = le32(table, at + 4);
            const quint32 size = le32(table, at + 8);
            QVERIFY(offset % 0x1000 == 0 && size % 0x1000 == 0);
            QVERIFY(quint64(offset) + size <= 16ULL * 1024 * 1024);
            QVERIFY(offset >= 0x9000);
            if (type == 0x00) {
                QCOMPARE(offset % 0x10000, 0U);
                appOffset = offset;
            }
            labels.append(QString::fromLatin1(table.mid(at + 12, 16).constData()));
            at += 32;
        }
        QCOMPARE(labels, (QStringList{u"nvs"_s, u"phy_init"_s, u"factory"_s, u"vfs"_s}));
        QCOMPARE(appOffset, 0x10000U);
        QCOMPARE(table.mid(at, 16), QByteArray::fromHex("ebeb") + QByteArray(14, '\xFF'));
        QCOMPARE(table.mid(at + 16, 16),
                 QCryptographicHash::hash(table.left(at), QCryptographicHash::Md5));
        QCOMPARE(table.mid(at + 32), QByteArray(0xC00 - at - 32, '\xFF'));
    }

    void applicationImage()
    {
        const ParsedImage app = parseImage(m_image, 0x10000);
        QVERIFY2(app.valid, qPrintable(app.problem));
        QCOMPARE(0x10000 + app.length, m_image.size());
        QCOMPARE(app.loadAddresses.first(), 0x3F400020U);
        // The application description leads the first segment.
        QCOMPARE(le32(m_image, 0x10020), 0xABCD5432U);
        QCOMPARE(m_image.mid(0x10020 + 16, 4), QByteArray("V2.2"));
    }

private:
    QTemporaryDir m_dir;
    QByteArray m_image;
};

QTEST_GUILESS_MAIN(TestFirmwareImage)
#include "tst_firmwareimage.moc"
