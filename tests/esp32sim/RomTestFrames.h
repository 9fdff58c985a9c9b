#pragma once

// Request building and reply parsing for the simulator's tests, written from the protocol
// reference independently of the library's own codec.

#include "RomLoader.h"

#include <QByteArray>
#include <QList>
#include <QtEndian>

#include <initializer_list>

namespace romtest {

inline QByteArray slip(QByteArrayView payload)
{
    QByteArray out("\xC0", 1);
    for (const char c : payload) {
        if (quint8(c) == 0xC0)
            out.append("\xDB\xDC", 2);
        else if (quint8(c) == 0xDB)
            out.append("\xDB\xDD", 2);
        else
            out.append(c);
    }
    out.append('\xC0');
    return out;
}

inline QByteArray words(std::initializer_list<quint32> values)
{
    QByteArray out;
    for (const quint32 v : values) {
        char b[4];
        qToLittleEndian(v, b);
        out.append(b, 4);
    }
    return out;
}

inline quint32 checksum(QByteArrayView data)
{
    quint8 sum = 0xEF;
    for (const char c : data)
        sum ^= quint8(c);
    return sum;
}

inline QByteArray packet(quint8 opcode, QByteArrayView data, quint32 check = 0)
{
    QByteArray p;
    p.append(char(0)).append(char(opcode));
    char size[2];
    qToLittleEndian(quint16(data.size()), size);
    p.append(size, 2);
    char c[4];
    qToLittleEndian(check, c);
    p.append(c, 4);
    p.append(data);
    return p;
}

inline QByteArray request(quint8 opcode, QByteArrayView data, quint32 check = 0)
{
    return slip(packet(opcode, data, check));
}

inline QByteArray syncRequest()
{
    QByteArray data("\x07\x07\x12\x20", 4);
    data.append(32, '\x55');
    return request(0x08, data);
}

// A data command (FLASH_DATA, FLASH_DEFL_DATA, MEM_DATA) with a correct checksum.
inline QByteArray dataRequest(quint8 opcode, quint32 sequence, QByteArrayView block)
{
    QByteArray data = words({quint32(block.size()), sequence, 0, 0});
    data.append(block);
    return request(opcode, data, checksum(block));
}

struct Reply
{
    quint8 direction = 0;
    quint8 opcode = 0;
    quint16 size = 0;
    quint32 value = 0;
    QByteArray body;  // the data field, status included
    bool sizeFieldMatches = false;

    quint8 status() const { return body.size() >= 4 ? quint8(body[body.size() - 4]) : 0xFF; }
    quint8 error() const { return body.size() >= 4 ? quint8(body[body.size() - 3]) : 0xFF; }
    QByteArray payload() const { return body.left(body.size() - 4); }
    bool ok() const { return sizeFieldMatches && status() == 0 && error() == 0; }
};

inline QList<Reply> parseReplies(const QByteArray& wire)
{
    QList<Reply> replies;
    QByteArray current;
    bool inside = false;
    for (qsizetype i = 0; i < wire.size(); ++i) {
        const auto c = quint8(wire[i]);
        if (c == 0xC0) {
            if (inside && !current.isEmpty()) {
                Reply r;
                r.direction = quint8(current[0]);
                r.opcode = quint8(current[1]);
                r.size = qFromLittleEndian<quint16>(current.constData() + 2);
                r.value = qFromLittleEndian<quint32>(current.constData() + 4);
                r.body = current.mid(8);
                r.sizeFieldMatches = r.size == r.body.size();
                replies.append(r);
                current.clear();
                inside = false;
            } else {
                inside = true;
            }
        } else if (c == 0xDB && i + 1 < wire.size()) {
            const auto next = quint8(wire[++i]);
            current.append(char(next == 0xDC ? 0xC0 : 0xDB));
        } else {
            current.append(char(c));
        }
    }
    return replies;
}

inline QByteArray wireOf(const esp32sim::RomLoader::FeedResult& result)
{
    QByteArray out;
    for (const auto& answer : result.answers) {
        for (const auto& frame : answer.frames)
            out.append(frame.bytes);
    }
    return out;
}

inline QList<Reply> exchange(esp32sim::RomLoader& loader, const QByteArray& bytes)
{
    return parseReplies(wireOf(loader.feed(bytes)));
}

}  // namespace romtest
