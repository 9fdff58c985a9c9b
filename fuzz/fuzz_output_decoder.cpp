// OutputDecoder on a child's output cut into reads at any points.
//
// Input: length-prefixed reads (see FuzzInput.h). Invariant: what decode() gives read by read,
// followed by finish(), equals the whole output decoded at once (invalid UTF-8 as U+FFFD) with
// every CR LF and every lone CR turned into one line feed. So a character or a CR LF pair split
// between reads comes out as if it had arrived in one piece.

#include "FuzzInput.h"
#include "flash/OutputDecoder.h"

using namespace Qt::StringLiterals;

namespace {

QString decodedAtOnce(const QByteArray& output)
{
    QString text = QString::fromUtf8(output);
    text.replace(u"\r\n"_s, u"\n"_s);
    text.replace(u'\r', u'\n');
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QList<QByteArray> reads = fuzz::lengthPrefixedReads(fuzz::bytes(data, size));

    tavix::OutputDecoder decoder;
    QString text;
    for (const QByteArray& read : reads) {
        const QString piece = decoder.decode(read);
        fuzz::check(!piece.contains(u'\r'), "no carriage return reaches the log");
        text += piece;
    }
    text += decoder.finish();
    fuzz::check(text == decodedAtOnce(reads.join()), "reads decode as the whole output does");
    return 0;
}
