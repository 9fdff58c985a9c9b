#include "FuzzInput.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace fuzz {

QByteArrayView bytes(const std::uint8_t* data, std::size_t size)
{
    return {reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)};
}

QList<QByteArray> lengthPrefixedReads(QByteArrayView input)
{
    QList<QByteArray> reads;
    qsizetype at = 0;
    while (at < input.size()) {
        const auto length = static_cast<qsizetype>(static_cast<unsigned char>(input[at++]));
        const qsizetype taken = std::min(length, input.size() - at);
        reads.append(input.sliced(at, taken).toByteArray());
        at += taken;
    }
    return reads;
}

QStringList nulSeparatedWords(QByteArrayView input)
{
    QStringList words;
    qsizetype start = 0;
    while (start < input.size()) {
        qsizetype end = input.indexOf('\0', start);
        if (end < 0)
            end = input.size();
        words.append(QString::fromUtf8(input.sliced(start, end - start)));
        start = end + 1;
    }
    return words;
}

QString utf16Text(QByteArrayView input)
{
    const qsizetype units = input.size() / 2;
    QString text(units, Qt::Uninitialized);
    std::memcpy(text.data(), input.data(), static_cast<std::size_t>(units) * 2);
    return text;
}

void check(bool condition, const char* invariant)
{
    if (condition)
        return;
    std::fprintf(stderr, "invariant broken: %s\n", invariant);
    std::abort();
}

}  // namespace fuzz
