#include "PartitionTable.h"

#include <QCryptographicHash>
#include <QtEndian>

namespace partitiontable {

namespace {

constexpr char entryMagic[] = {char(0xAA), char(0x50)};
constexpr char md5Magic[] = {char(0xEB), char(0xEB)};
constexpr qsizetype md5Padding = 14;

void appendLe32(QByteArray& out, quint32 v)
{
    char b[4];
    qToLittleEndian(v, b);
    out.append(b, 4);
}

}  // namespace

QByteArray build(const QList<Entry>& entries)
{
    QByteArray table;
    for (const Entry& e : entries) {
        table.append(entryMagic, 2);
        table.append(char(e.type)).append(char(e.subtype));
        appendLe32(table, e.offset);
        appendLe32(table, e.size);
        QByteArray label = e.label.left(labelLength);
        label.append(labelLength - label.size(), '\0');
        table.append(label);
        appendLe32(table, e.flags);
    }
    const QByteArray digest = QCryptographicHash::hash(table, QCryptographicHash::Md5);
    table.append(md5Magic, 2);
    table.append(md5Padding, char(0xFF));
    table.append(digest);
    table.append(tableLength - table.size(), char(0xFF));
    return table;
}

}  // namespace partitiontable
