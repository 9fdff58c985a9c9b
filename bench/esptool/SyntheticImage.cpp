#include "SyntheticImage.h"

#include <QList>
#include <QRandomGenerator>

#include <cmath>

using namespace Qt::StringLiterals;

namespace synthetic {

// Machine code: instructions from a vocabulary in which a few are very common (loads, stores,
// calls), with an immediate operand now and then. Next to it an application carries string
// tables, pointer tables, compressed assets and erased padding. The mix lands near zlib's
// ratio on real ESP32 applications (about 0.6).
QByteArray application(qsizetype size, quint32 seed)
{
    QRandomGenerator random(seed);
    QList<QByteArray> instructions;
    for (int i = 0; i < 1024; ++i) {
        QByteArray instruction(3, Qt::Uninitialized);
        for (char& byte : instruction)
            byte = static_cast<char>(random.bounded(256));
        instructions << instruction;
    }
    static const QList<QByteArray> words{"wifi"_ba,  "event"_ba, "task"_ba,   "mqtt"_ba,
                                         "error"_ba, "init"_ba,  "config"_ba, "%d"_ba,
                                         "\n"_ba,    "lvgl"_ba,  "http"_ba,   "json"_ba};
    QByteArray data;
    data.reserve(size + 4096);
    while (data.size() < size) {
        const quint32 kind = random.bounded(100);
        if (kind < 70) {
            for (int i = 0; i < 1024; ++i) {
                const double skew = std::pow(random.generateDouble(), 5);
                data.append(instructions[qsizetype(skew * double(instructions.size()))]);
                if (random.bounded(100) < 15)
                    data.append(static_cast<char>(random.bounded(256)));
            }
        } else if (kind < 78) {
            for (int i = 0; i < 200; ++i)
                data.append(words[random.bounded(words.size())]).append(' ');
        } else if (kind < 88) {
            for (int i = 0; i < 1024; ++i)
                data.append(static_cast<char>(random.bounded(256)));
        } else if (kind < 95) {
            for (int i = 0; i < 128; ++i) {
                const quint32 pointer = 0x3F400000 + random.bounded(0x10000) * 4;
                data.append(reinterpret_cast<const char*>(&pointer), 4);
            }
        } else {
            data.append(QByteArray(2048, '\xFF'));
        }
    }
    data.truncate(size);
    return data;
}

QByteArray merged(qsizetype size, quint32 seed)
{
    constexpr qsizetype bootloader = 0x1000;
    constexpr qsizetype partitionTable = 0x8000;
    constexpr qsizetype applicationStart = 0x10000;
    QByteArray data(size, '\xFF');
    data.replace(bootloader, 0x6000, application(0x6000, seed));
    data.replace(partitionTable, 0x200, application(0x200, seed + 1));
    const qsizetype app = size / 2;
    data.replace(applicationStart, app, application(app, seed + 2));
    // Records of one layout, a few fields changing from one to the next.
    const qsizetype records = size / 8;
    QRandomGenerator random(seed + 3);
    const QByteArray record = application(256, seed + 4);
    for (qsizetype at = applicationStart + app; at < applicationStart + app + records; at += 256) {
        QByteArray one = record;
        one[random.bounded(256)] = static_cast<char>(random.bounded(256));
        data.replace(at, std::min<qsizetype>(256, size - at), one.left(size - at));
    }
    return data.left(size);
}

}  // namespace synthetic
