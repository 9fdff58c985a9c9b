// tavix::shell on any words.
//
// Input: NUL-separated words (see FuzzInput.h), once as UTF-8 and once as UTF-16 code units
// separated by U+0000. Invariants, checked with a small reader of POSIX shell words (single
// quotes, backslash, blanks between words; any other character the shell treats specially makes
// it refuse):
// - the shell reads every quoted word back as the word itself, as one word;
// - a word left bare holds only letters, marks, numbers and "_+-=/:.,@";
// - the shell reads the joined command line back as the words, but for empty ones, which are
//   written as nothing.

#include "FuzzInput.h"
#include "flash/ShellQuote.h"

#include <optional>
#include <utility>

using namespace Qt::StringLiterals;

namespace {

// Characters that mean something to the shell outside quotes. Blanks separate words, a single
// quote opens a quoted run and a backslash escapes the next character; the rest would run,
// expand or redirect something, so a reader meeting one gives up.
constexpr QStringView shellSpecial = u"|&;<>()$`\"*?[]#~!{}%^";

std::optional<QStringList> shellWords(const QString& line)
{
    QStringList words;
    QString word;
    bool inWord = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (c == u' ' || c == u'\t' || c == u'\n') {
            if (inWord)
                words.append(std::exchange(word, {}));
            inWord = false;
            continue;
        }
        inWord = true;
        if (c == u'\'') {
            const qsizetype close = line.indexOf(u'\'', i + 1);
            if (close < 0)
                return std::nullopt;
            word += QStringView(line).sliced(i + 1, close - i - 1);
            i = close;
        } else if (c == u'\\') {
            if (++i == line.size())
                return std::nullopt;
            word += line[i];
        } else if (shellSpecial.contains(c) || c.unicode() < 0x20 || c.unicode() == 0x7F) {
            return std::nullopt;
        } else {
            word += c;
        }
    }
    if (inWord)
        words.append(word);
    return words;
}

bool isSafeAscii(char32_t c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
           QStringView(u"_+-=/:.,@").contains(QChar(c));
}

// Walks the code points; an unpaired surrogate is no letter and so not safe.
bool onlySafeCharacters(const QString& word)
{
    for (qsizetype i = 0; i < word.size(); ++i) {
        char32_t c = word[i].unicode();
        if (QChar::isSurrogate(c)) {
            if (!word[i].isHighSurrogate() || i + 1 == word.size() || !word[i + 1].isLowSurrogate())
                return false;
            c = QChar::surrogateToUcs4(word[i], word[i + 1]);
            ++i;
        }
        const bool safe =
            c < 0x80 ? isSafeAscii(c) : QChar::isLetterOrNumber(c) || QChar::isMark(c);
        if (!safe)
            return false;
    }
    return true;
}

void checkWords(const QStringList& words)
{
    QStringList nonEmpty;
    for (const QString& word : words) {
        const QString quoted = tavix::shell::quoted(word);
        if (quoted == word)
            fuzz::check(onlySafeCharacters(word), "a bare word holds only safe characters");
        if (!word.isEmpty()) {
            fuzz::check(shellWords(quoted) == QStringList{word},
                        "the shell reads a quoted word back as the word");
            nonEmpty.append(word);
        }
    }
    fuzz::check(shellWords(tavix::shell::commandLine(words)) == nonEmpty,
                "the shell reads the command line back as the words");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArrayView input = fuzz::bytes(data, size);
    checkWords(fuzz::nulSeparatedWords(input));
    const QString units = fuzz::utf16Text(input);
    checkWords(units.isEmpty() ? QStringList() : units.split(QChar(u'\0')));
    return 0;
}
