#include "flash/ShellQuote.h"

#include <QStringView>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace tavix::shell {
namespace {

bool isSafe(char32_t codePoint)
{
    static constexpr QStringView safePunctuation = u"_+-=/:.,@";
    if (codePoint < 0x80 && safePunctuation.contains(QChar(codePoint)))
        return true;
    switch (QChar::category(codePoint)) {
    case QChar::Letter_Uppercase:
    case QChar::Letter_Lowercase:
    case QChar::Letter_Titlecase:
    case QChar::Letter_Modifier:
    case QChar::Letter_Other:
    case QChar::Mark_NonSpacing:
    case QChar::Mark_SpacingCombining:
    case QChar::Mark_Enclosing:
    case QChar::Number_DecimalDigit:
    case QChar::Number_Letter:
    case QChar::Number_Other:
        return true;
    default:
        return false;
    }
}

bool allSafe(const QString& word)
{
    const QList<uint> codePoints = word.toUcs4();
    return std::all_of(codePoints.cbegin(), codePoints.cend(),
                       [](uint codePoint) { return isSafe(char32_t(codePoint)); });
}

}  // namespace

QString quoted(const QString& word)
{
    if (allSafe(word))
        return word;
    QString escaped = word;
    escaped.replace(u'\'', u"'\\''"_s);
    return u'\'' + escaped + u'\'';
}

QString commandLine(const QStringList& words)
{
    QStringList quotedWords;
    quotedWords.reserve(words.size());
    for (const QString& word : words)
        quotedWords.append(quoted(word));
    return quotedWords.join(u' ');
}

}  // namespace tavix::shell
