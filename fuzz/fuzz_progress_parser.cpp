// tavix::progress::firstPercentage on any text.
//
// Input: the text, taken once as UTF-8 and once as UTF-16 code units. Invariants:
// - a result is a number from 0 to 100, and only a text with '%' and an ASCII digit has one;
// - on ASCII text the result equals an independent scan for the first percentage: the first
//   digit run that, with an optional ".digits" fraction and blanks, reaches a '%', read by
//   strtod and clamped to 0..100.

#include "FuzzInput.h"
#include "flash/ProgressParser.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>

namespace {

bool isAsciiDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

// White space as the pattern's \s sees it in ASCII.
bool isAsciiBlank(QChar c)
{
    return c == u' ' || (c >= u'\t' && c <= u'\r');
}

bool isAscii(const QString& text)
{
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x80; });
}

qsizetype digitRunEnd(const QString& text, qsizetype from)
{
    while (from < text.size() && isAsciiDigit(text[from]))
        ++from;
    return from;
}

// A number that does not reach a '%' cannot do so with fewer digits either (a digit would follow
// it), so only the longest reading at each start counts.
std::optional<double> expectedPercentage(const QString& text)
{
    for (qsizetype start = 0; start < text.size(); ++start) {
        if (!isAsciiDigit(text[start]) || (start > 0 && isAsciiDigit(text[start - 1])))
            continue;
        qsizetype end = digitRunEnd(text, start);
        if (end + 1 < text.size() && text[end] == u'.' && isAsciiDigit(text[end + 1]))
            end = digitRunEnd(text, end + 1);
        qsizetype sign = end;
        while (sign < text.size() && isAsciiBlank(text[sign]))
            ++sign;
        if (sign < text.size() && text[sign] == u'%') {
            const std::string number = text.sliced(start, end - start).toStdString();
            return std::clamp(std::strtod(number.c_str(), nullptr), 0.0, 100.0);
        }
    }
    return std::nullopt;
}

void checkText(const QString& text)
{
    const std::optional<double> percent = tavix::progress::firstPercentage(text);
    if (percent) {
        fuzz::check(*percent >= 0.0 && *percent <= 100.0, "a percentage is from 0 to 100");
        fuzz::check(text.contains(u'%') && std::any_of(text.cbegin(), text.cend(), isAsciiDigit),
                    "a percentage comes from digits and a percent sign");
    }
    if (!isAscii(text))
        return;
    const std::optional<double> expected = expectedPercentage(text);
    fuzz::check(percent.has_value() == expected.has_value(), "the first percentage is found");
    if (percent) {
        // The parser sums digit by digit; strtod rounds once. Both are within a hair of the
        // decimal value.
        fuzz::check(std::abs(*percent - *expected) <= 1e-9,
                    "the first percentage is read as its decimal value");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArrayView input = fuzz::bytes(data, size);
    checkText(QString::fromUtf8(input));
    checkText(fuzz::utf16Text(input));
    return 0;
}
