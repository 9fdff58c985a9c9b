#include "cli/CommandLine.h"

#include <array>
#include <optional>

using namespace Qt::StringLiterals;

namespace esptool::cli {

namespace {

constexpr int minimumBaud = 1200;
constexpr int maximumBaud = 5'000'000;
// Where the names and their help end and the explanation begins, in the help text.
constexpr qsizetype helpColumn = 30;

// Older spellings used underscores where the current ones use hyphens; both are accepted.
QString hyphenated(QString word)
{
    return word.replace(u'_', u'-');
}

std::optional<quint64> parseNumber(const QString& text)
{
    bool ok = false;
    quint64 value = 0;
    if (text.startsWith(u"0x"_s, Qt::CaseInsensitive) && text.size() > 2)
        value = QStringView(text).sliced(2).toULongLong(&ok, 16);
    else if (!text.isEmpty() && text.front().isDigit())
        value = text.toULongLong(&ok, 10);
    if (!ok)
        return std::nullopt;
    return value;
}

enum class Scope
{
    global,      // before the command
    writeFlash,  // after write-flash
    eraseFlash,  // after erase-flash
};

// What an option does to the run given its value; what is wrong with the value, or nothing.
using Apply = std::optional<QString> (*)(Invocation& run, const QString& value);

struct OptionSpec
{
    Scope scope;
    QString shortName;  // may be empty
    QString longName;
    QString value;  // what the help shows for its value; empty: a flag
    QString help;   // lines after the first are indented under it
    Apply apply;
};

std::optional<QString> setChip(Invocation&, const QString& value)
{
    const QString chip = QString(value).toLower().remove(u'-').remove(u'_');
    if (chip != u"esp32"_s && chip != u"auto"_s)
        return u"chip '%1' is not supported; only esp32 is."_s.arg(value);
    return std::nullopt;
}

std::optional<QString> setPort(Invocation& run, const QString& value)
{
    if (value.isEmpty())
        return u"the port name is empty."_s;
    run.port = value;
    return std::nullopt;
}

std::optional<QString> setBaud(Invocation& run, const QString& value)
{
    const std::optional<quint64> baud = parseNumber(value);
    if (!baud || *baud < minimumBaud || *baud > maximumBaud) {
        return u"baud rate '%1' is not a number from %2 to %3."_s.arg(value)
            .arg(minimumBaud)
            .arg(maximumBaud);
    }
    run.session.baud = static_cast<int>(*baud);
    return std::nullopt;
}

std::optional<QString> setBefore(Invocation& run, const QString& value)
{
    const QString mode = hyphenated(value);
    if (mode == u"default-reset"_s)
        run.session.before = BeforeReset::defaultReset;
    else if (mode == u"no-reset"_s)
        run.session.before = BeforeReset::noReset;
    else
        return u"--before takes default-reset or no-reset, not '%1'."_s.arg(value);
    return std::nullopt;
}

std::optional<QString> setAfter(Invocation& run, const QString& value)
{
    const QString mode = hyphenated(value);
    if (mode == u"hard-reset"_s)
        run.after = AfterReset::hardReset;
    else if (mode == u"no-reset"_s)
        run.after = AfterReset::noReset;
    else
        return u"--after takes hard-reset or no-reset, not '%1'."_s.arg(value);
    return std::nullopt;
}

std::optional<QString> setFlashMode(Invocation& run, const QString& value)
{
    const std::optional<flash::Mode> mode = flash::modeFromName(value);
    if (!mode)
        return u"--flash-mode takes keep, qio, qout, dio or dout, not '%1'."_s.arg(value);
    run.write.mode = *mode;
    return std::nullopt;
}

std::optional<QString> setFlashFrequency(Invocation& run, const QString& value)
{
    const std::optional<flash::Frequency> frequency = flash::frequencyFromName(value);
    if (!frequency)
        return u"--flash-freq takes keep, 80m, 40m, 26m or 20m, not '%1'."_s.arg(value);
    run.write.frequency = *frequency;
    return std::nullopt;
}

std::optional<QString> setFlashSize(Invocation& run, const QString& value)
{
    if (value.compare(u"detect"_s, Qt::CaseInsensitive) == 0)
        run.write.size = FlashSizeChoice{FlashSizeChoice::Kind::detect, 0};
    else if (value.compare(u"keep"_s, Qt::CaseInsensitive) == 0)
        run.write.size = FlashSizeChoice{FlashSizeChoice::Kind::keep, 0};
    else if (const std::optional<quint32> bytes = flash::sizeFromName(value))
        run.write.size = FlashSizeChoice{FlashSizeChoice::Kind::fixed, *bytes};
    else
        return u"--flash-size takes detect, keep, 1MB, 2MB, 4MB, 8MB or 16MB, not '%1'."_s.arg(
            value);
    return std::nullopt;
}

// Every option, with its names, its value, its help and what it does: the parser and the help
// text both read this table, so an option is named once.
const std::array<OptionSpec, 15>& options()
{
    using S = Scope;
    using R = std::optional<QString>;
    // One option per row reads better than the formatter's one field per line.
    // clang-format off
    static const std::array<OptionSpec, 15> table{{
        {S::global, u"-c"_s, u"--chip"_s, u"esp32|auto"_s,
         u"chip type; only the ESP32 is supported"_s, setChip},
        {S::global, u"-p"_s, u"--port"_s, u"PORT"_s, u"serial device, e.g. /dev/ttyUSB0"_s,
         setPort},
        {S::global, u"-b"_s, u"--baud"_s, u"N"_s, u"rate for the transfer (default 115200)"_s,
         setBaud},
        {S::global, {}, u"--before"_s, u"default-reset|no-reset"_s,
         u"reset into the loader first (default)"_s, setBefore},
        {S::global, u"-a"_s, u"--after"_s, u"hard-reset|no-reset"_s,
         u"start the firmware when done (default)"_s, setAfter},
        {S::global, {}, u"--no-baud-fallback"_s, {},
         u"fail on a line too noisy for the rate\ninstead of moving to a lower one"_s,
         [](Invocation& run, const QString&) -> R {
             run.session.baudFallback = false;
             return std::nullopt;
         }},
        {S::writeFlash, u"-z"_s, u"--compress"_s, {}, u"send the data compressed"_s,
         [](Invocation& run, const QString&) -> R {
             run.write.compress = true;
             return std::nullopt;
         }},
        {S::writeFlash, u"-u"_s, u"--no-compress"_s, {}, u"send the data as it is (default)"_s,
         [](Invocation& run, const QString&) -> R {
             run.write.compress = false;
             return std::nullopt;
         }},
        {S::writeFlash, u"-fm"_s, u"--flash-mode"_s, u"keep|qio|qout|dio|dout"_s, {},
         setFlashMode},
        {S::writeFlash, u"-ff"_s, u"--flash-freq"_s, u"keep|80m|40m|26m|20m"_s, {},
         setFlashFrequency},
        {S::writeFlash, u"-fs"_s, u"--flash-size"_s, u"detect|keep|1MB|2MB|4MB|8MB|16MB"_s,
         u"mode, frequency and size are written into the header of an\nimage at 0x1000 (the "
         "bootloader); other data is left alone"_s,
         setFlashSize},
        {S::writeFlash, {}, u"--no-skip"_s, {},
         u"write everything, even where the board\nalready holds it (by default a piece the\n"
         "chip's MD5 shows there is skipped)"_s,
         [](Invocation& run, const QString&) -> R {
             run.write.skip = false;
             return std::nullopt;
         }},
        // The name other flashers give to skipping what is already there, which is always done.
        {S::writeFlash, {}, u"--skip-flashed"_s, {}, u"accepted; skipping is on anyway"_s,
         [](Invocation&, const QString&) -> R { return std::nullopt; }},
        {S::writeFlash, {}, u"--force"_s, {},
         u"write even where the eFuses say the\nboard would no longer boot"_s,
         [](Invocation& run, const QString&) -> R {
             run.session.force = true;
             return std::nullopt;
         }},
        {S::eraseFlash, {}, u"--force"_s, {},
         u"erase even where the eFuses say the\nboard could not be restored"_s,
         [](Invocation& run, const QString&) -> R {
             run.session.force = true;
             return std::nullopt;
         }},
    }};
    // clang-format on
    return table;
}

const OptionSpec* findOption(Scope scope, const QString& name)
{
    for (const OptionSpec& option : options()) {
        if (option.scope == scope && (name == option.longName || name == option.shortName))
            return &option;
    }
    return nullptr;
}

// "  -c, --chip esp32|auto       chip type..." for each option of `scope`, at `indent`.
QString optionHelp(Scope scope, qsizetype indent)
{
    QString text;
    const QString margin(indent, u' ');
    for (const OptionSpec& option : options()) {
        if (option.scope != scope)
            continue;
        QString names = option.shortName.isEmpty() ? option.longName
                                                   : option.shortName + u", "_s + option.longName;
        if (!option.value.isEmpty())
            names += u' ' + option.value;
        QString line = margin + names;
        const QStringList help = option.help.split(u'\n', Qt::SkipEmptyParts);
        for (qsizetype i = 0; i < help.size(); ++i) {
            if (i > 0 || line.size() >= helpColumn) {
                text += line + u'\n';
                line.clear();
            }
            line = line.leftJustified(helpColumn) + help[i];
        }
        text += line + u'\n';
    }
    return text;
}

struct Token
{
    QString name;                  // long names hyphenated, e.g. "--flash-mode"
    std::optional<QString> value;  // from "--name=value"
};

Token splitOption(const QString& token)
{
    if (!token.startsWith(u"--"_s))
        return Token{token, std::nullopt};
    const qsizetype equals = token.indexOf(u'=');
    if (equals < 0)
        return Token{hyphenated(token), std::nullopt};
    return Token{hyphenated(token.left(equals)), token.mid(equals + 1)};
}

bool isHelp(const QString& name)
{
    return name == u"--help"_s || name == u"-h"_s;
}

class Parser
{
public:
    explicit Parser(const QStringList& arguments)
        : m_arguments(arguments)
    {}

    ParsedCommandLine parse();

private:
    bool atEnd() const { return m_index >= m_arguments.size(); }
    bool fail(const QString& message);
    // Applies the option of `scope` that `token` names; `unknown` is the complaint otherwise.
    bool parseOption(Scope scope, const Token& token, const QString& unknown);
    bool parseCommand(const QString& name);
    bool parseWriteFlash();
    bool parseEraseFlash();
    bool parseItems(const QStringList& positionals);

    const QStringList& m_arguments;
    qsizetype m_index = 0;
    ParsedCommandLine m_result;
    QStringList m_seen;  // the options given, by long name
    bool m_helpAsked = false;
};

bool Parser::fail(const QString& message)
{
    if (m_result.action != ParsedCommandLine::Action::error || m_result.error.isEmpty()) {
        m_result.action = ParsedCommandLine::Action::error;
        m_result.error = message;
    }
    return false;
}

bool Parser::parseOption(Scope scope, const Token& token, const QString& unknown)
{
    if (isHelp(token.name)) {
        m_helpAsked = true;
        return true;
    }
    const OptionSpec* option = findOption(scope, token.name);
    if (option == nullptr)
        return fail(unknown);
    m_seen << option->longName;
    QString value;
    if (!option->value.isEmpty()) {
        if (token.value) {
            value = *token.value;
        } else if (atEnd()) {
            return fail(u"option %1 needs a value."_s.arg(token.name));
        } else {
            value = m_arguments[m_index++];
        }
    }
    if (const std::optional<QString> wrong = option->apply(m_result.invocation, value))
        return fail(*wrong);
    return true;
}

bool Parser::parseItems(const QStringList& positionals)
{
    if (positionals.isEmpty())
        return fail(u"write-flash needs at least one ADDRESS FILE pair."_s);
    if (positionals.size() % 2 != 0) {
        return fail(u"write-flash takes ADDRESS FILE pairs; '%1' has no partner."_s.arg(
            positionals.back()));
    }
    constexpr quint64 sectorSize = 0x1000;
    for (qsizetype i = 0; i < positionals.size(); i += 2) {
        const std::optional<quint64> address = parseNumber(positionals[i]);
        if (!address || *address > 0xFFFFFFFFu) {
            return fail(u"'%1' is not a flash address (decimal, or hexadecimal with 0x)."_s.arg(
                positionals[i]));
        }
        if (*address % sectorSize != 0) {
            return fail(u"address %1 is not a multiple of 0x1000, the flash sector size."_s.arg(
                positionals[i]));
        }
        if (positionals[i + 1].isEmpty())
            return fail(u"the file name after %1 is empty."_s.arg(positionals[i]));
        m_result.invocation.items.append(
            WriteItem{static_cast<quint32>(*address), positionals[i + 1]});
    }
    return true;
}

bool Parser::parseWriteFlash()
{
    QStringList positionals;
    while (!atEnd()) {
        const QString token = m_arguments[m_index++];
        // A lone "-" or a negative number is no option; neither is anything after "--".
        if (token == u"--"_s) {
            positionals.append(m_arguments.mid(m_index));
            m_index = m_arguments.size();
            break;
        }
        if (token.size() > 1 && token.startsWith(u'-')) {
            const Token option = splitOption(token);
            if (!parseOption(Scope::writeFlash, option,
                             u"unknown option %1 for write-flash."_s.arg(option.name))) {
                return false;
            }
        } else {
            positionals.append(token);
        }
    }
    if (m_helpAsked)
        return true;
    if (m_seen.contains(u"--compress"_s) && m_seen.contains(u"--no-compress"_s))
        return fail(u"--compress and --no-compress exclude each other."_s);
    return parseItems(positionals);
}

bool Parser::parseEraseFlash()
{
    while (!atEnd()) {
        const Token option = splitOption(m_arguments[m_index++]);
        if (!parseOption(Scope::eraseFlash, option,
                         u"erase-flash takes no argument '%1'."_s.arg(option.name))) {
            return false;
        }
    }
    return true;
}

bool Parser::parseCommand(const QString& name)
{
    const QString command = hyphenated(name);
    if (command == u"write-flash"_s) {
        m_result.invocation.command = Command::writeFlash;
        return parseWriteFlash();
    }
    if (command == u"erase-flash"_s) {
        m_result.invocation.command = Command::eraseFlash;
        return parseEraseFlash();
    }
    if (command == u"version"_s) {
        if (!atEnd())
            return fail(u"version takes no arguments."_s);
        m_result.action = ParsedCommandLine::Action::version;
        return true;
    }
    return fail(u"unknown command '%1'."_s.arg(name));
}

ParsedCommandLine Parser::parse()
{
    m_result.action = ParsedCommandLine::Action::run;
    while (!atEnd() && m_arguments[m_index].startsWith(u'-')) {
        const Token option = splitOption(m_arguments[m_index++]);
        if (option.name == u"--version"_s) {
            m_result.action = ParsedCommandLine::Action::version;
            continue;
        }
        if (!parseOption(Scope::global, option, u"unknown option %1."_s.arg(option.name)))
            return m_result;
    }
    if (m_helpAsked) {
        m_result.action = ParsedCommandLine::Action::help;
        return m_result;
    }
    if (m_result.action == ParsedCommandLine::Action::version)
        return m_result;
    if (atEnd()) {
        fail(u"no command given."_s);
        return m_result;
    }
    if (!parseCommand(m_arguments[m_index++]))
        return m_result;
    if (m_helpAsked) {
        m_result.action = ParsedCommandLine::Action::help;
        return m_result;
    }
    if (m_result.action == ParsedCommandLine::Action::run && m_result.invocation.port.isEmpty())
        fail(u"--port is required."_s);
    return m_result;
}

}  // namespace

ParsedCommandLine parseCommandLine(const QStringList& arguments)
{
    return Parser(arguments).parse();
}

QString usageLine()
{
    return u"usage: esptool [--chip esp32] --port PORT [--baud N] "
           "[--before default-reset|no-reset] [--after hard-reset|no-reset] "
           "[--no-baud-fallback] {write-flash,erase-flash,version} ..."_s;
}

QString helpText()
{
    return usageLine() +
           u"\n\nWrites or erases the flash of an ESP32 through its ROM serial "
           "loader.\n\nGlobal options (before the command):\n"_s +
           optionHelp(Scope::global, 2) +
           u"\nCommands:\n  write-flash [options] ADDRESS FILE [ADDRESS FILE ...]\n"_s +
           optionHelp(Scope::writeFlash, 4) + u"  erase-flash [options]\n"_s +
           optionHelp(Scope::eraseFlash, 4) +
           u"  version                     print the version\n\n"
           "Underscore spellings (write_flash, --flash_mode, default_reset, ...) are accepted "
           "too.\nExit status: 0 on success, 2 for bad arguments, 1 for any other failure."_s;
}

}  // namespace esptool::cli
