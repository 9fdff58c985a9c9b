#include "flash/ProgressParser.h"

#include <QRegularExpression>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace tavix::progress {
namespace {

// esptool v4 prints "(12 %)", v5 prints "  3.4%": the fraction is optional and belongs to the
// number. Unicode properties make \d and \s match every decimal digit and white space, as the
// search should; whether the digits can be read is decided afterwards.
const QRegularExpression& percentagePattern()
{
    static const QRegularExpression pattern(u"(\\d+(?:\\.\\d+)?)\\s*%"_s,
                                            QRegularExpression::UseUnicodePropertiesOption);
    return pattern;
}

// Digits, optionally a point and more digits, all ASCII. Accumulating in floating point means an
// absurdly long digit run ends as infinity (clamped later) instead of overflowing. The point is
// remembered apart from the scale: a fraction longer than a double reaches scales down to zero.
std::optional<double> parseDecimal(QStringView number)
{
    double value = 0.0;
    double fractionScale = 1.0;
    bool inFraction = false;
    for (QChar c : number) {
        if (c == u'.') {
            inFraction = true;
            continue;
        }
        if (c < u'0' || c > u'9')
            return std::nullopt;
        const int digit = c.unicode() - u'0';
        if (!inFraction) {
            value = value * 10.0 + digit;
        } else {
            fractionScale /= 10.0;
            value += digit * fractionScale;
        }
    }
    return value;
}

}  // namespace

std::optional<double> firstPercentage(QStringView text)
{
    // A QString subject: the QStringView overload is deprecated from Qt 6.8 on, and its successor
    // matchView() came with 6.5, after Debian 12's 6.4.
    const QRegularExpressionMatch match = percentagePattern().match(text.toString());
    if (!match.hasMatch())
        return std::nullopt;
    const std::optional<double> value = parseDecimal(match.capturedView(1));
    if (!value)
        return std::nullopt;
    return std::clamp(*value, 0.0, 100.0);
}

}  // namespace tavix::progress
