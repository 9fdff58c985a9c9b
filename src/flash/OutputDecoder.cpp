#include "flash/OutputDecoder.h"

#include <utility>

using namespace Qt::StringLiterals;

namespace tavix {

namespace {

// Length of the UTF-8 sequence a lead byte announces; 1 for anything that cannot start one
// (those bytes decode on their own, as U+FFFD where invalid).
int sequenceLength(unsigned char lead)
{
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    if (lead >= 0xE0)
        return lead <= 0xEF ? 3 : 1;
    if (lead >= 0xC2)
        return 2;
    return 1;
}

// Where a trailing, still incomplete sequence begins; bytes.size() when there is none.
qsizetype incompleteTailStart(const QByteArray& bytes)
{
    const qsizetype size = bytes.size();
    for (qsizetype back = 1; back <= 3 && back <= size; ++back) {
        const auto byte = static_cast<unsigned char>(bytes[size - back]);
        if ((byte & 0xC0) == 0x80)
            continue;  // a continuation byte: keep looking for its lead
        return sequenceLength(byte) > back ? size - back : size;
    }
    return size;
}

}  // namespace

QString OutputDecoder::decode(const QByteArray& bytes)
{
    QByteArray data = m_pending + bytes;
    const qsizetype complete = incompleteTailStart(data);
    m_pending = data.mid(complete);
    data.truncate(complete);
    return clean(QString::fromUtf8(data));
}

QString OutputDecoder::finish()
{
    // Whatever is pending is the start of a character that never got its end. It decodes as the
    // same bytes do anywhere else in the output, so how the output was cut into reads never shows.
    const QByteArray pending = std::exchange(m_pending, {});
    if (pending.isEmpty())
        return {};
    m_lastWasCarriageReturn = false;
    return QString::fromUtf8(pending);
}

QString OutputDecoder::clean(QString text)
{
    if (text.isEmpty())
        return text;
    if (std::exchange(m_lastWasCarriageReturn, false) && text.front() == u'\n')
        text.remove(0, 1);
    if (text.isEmpty())
        return text;
    m_lastWasCarriageReturn = text.back() == u'\r';
    text.replace(u"\r\n"_s, u"\n"_s);
    text.replace(u'\r', u'\n');
    return text;
}

}  // namespace tavix
