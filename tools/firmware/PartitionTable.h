#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

// ESP partition table: 32-byte entries (magic AA 50, type, subtype, offset, size, 16-byte
// label, flags), then an MD5 entry (EB EB, 14 x FF, MD5 of the entries before it), the rest
// of its 0xC00 bytes 0xFF.
namespace partitiontable {

inline constexpr qsizetype tableLength = 0xC00;
inline constexpr qsizetype entryLength = 32;
inline constexpr qsizetype labelLength = 16;

struct Entry
{
    quint8 type = 0;
    quint8 subtype = 0;
    quint32 offset = 0;
    quint32 size = 0;
    QByteArray label;
    quint32 flags = 0;
};

QByteArray build(const QList<Entry>& entries);

}  // namespace partitiontable
