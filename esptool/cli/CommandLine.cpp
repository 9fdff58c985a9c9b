#include "cli/CommandLine.h"

#include <optional>

using namespace Qt::StringLiterals;

namespace esptool::cli {

namespace {

constexpr int minimumBaud = 1200;
constexpr int maximumBaud = 5'000'000;

// Older spellings used underscores where the current ones use hyphens; both are accepted.
QString hyphenated(QString word)
{
    return word.replace(u'_', u'-');
}

struct Option
{
    QString name;                  // long names hyphenated, e.g. "--flash-mode"
    std::optional<QString> value;  // from "--name=value"
};

Option splitOption(const QString& token)
{
    if (!token.startsWith(u"--"_s))
        return Option{token, std::nullopt};
    const qsizetype equals = token.indexOf(u'=');
    if (equals < 0)
        return Option{hyphenated(token), std::nullopt};
    return Option{hyphenated(token.left(equals)), token.mid(equals + 1)};
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

class Parser
{
public:
    explicit Parser(const QStringList& arguments)
        : m_arguments(arguments)
    {}

    ParsedCommandLine parse();

private:
    bool atEnd() const { return m_index >= m_arguments.size(); }
    // The option's value: after "=" or the next argument.
    std::optional<QString> valueOf(const Option& option);
    bool fail(const QString& message);

    bool parseGlobalOption(const Option& option);
    bool parseCommand(const QString& name);
    bool parseWriteFlash();
    bool parseWriteOption(const Option& option);
    bool parseItems(const QStringList& positionals);

    const QStringList& m_arguments;
    qsizetype m_index = 0;
    ParsedCommandLine m_result;
    bool m_compressSeen = false;
    bool m_noCompressSeen = false;
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

std::optional<QString> Parser::valueOf(const Option& option)
{
    if (option.value)
        return option.value;
    if (atEnd()) {
        fail(u"option %1 needs a value."_s.arg(option.name));
        return std::nullopt;
    }
    return m_arguments[m_index++];
}

bool Parser::parseGlobalOption(const Option& option)
{
    Invocation& run = m_result.invocation;
    const QString& name = option.name;
    if (name == u"--help"_s || name == u"-h"_s) {
        m_helpAsked = true;
        return true;
    }
    if (name == u"--version"_s) {
        m_result.action = ParsedCommandLine::Action::version;
        return true;
    }
    if (name == u"--no-baud-fallback"_s) {
        run.session.baudFallback = false;
        return true;
    }
    const bool known = name == u"--chip"_s || name == u"-c"_s || name == u"--port"_s ||
                       name == u"-p"_s || name == u"--baud"_s || name == u"-b"_s ||
                       name == u"--before"_s || name == u"--after"_s || name == u"-a"_s;
    if (!known)
        return fail(u"unknown option %1."_s.arg(name));
    const std::optional<QString> value = valueOf(option);
    if (!value)
        return false;
    if (name == u"--chip"_s || name == u"-c"_s) {
        const QString chip = QString(*value).toLower().remove(u'-').remove(u'_');
        if (chip != u"esp32"_s && chip != u"auto"_s)
            return fail(u"chip '%1' is not supported; only esp32 is."_s.arg(*value));
    } else if (name == u"--port"_s || name == u"-p"_s) {
        if (value->isEmpty())
            return fail(u"the port name is empty."_s);
        run.port = *value;
    } else if (name == u"--baud"_s || name == u"-b"_s) {
        const std::optional<quint64> baud = parseNumber(*value);
        if (!baud || *baud < minimumBaud || *baud > maximumBaud) {
            return fail(u"baud rate '%1' is not a number from %2 to %3."_s.arg(*value)
                            .arg(minimumBaud)
                            .arg(maximumBaud));
        }
        run.session.baud = static_cast<int>(*baud);
    } else if (name == u"--before"_s) {
        const QString mode = hyphenated(*value);
        if (mode == u"default-reset"_s)
            run.session.before = BeforeReset::defaultReset;
        else if (mode == u"no-reset"_s)
            run.session.before = BeforeReset::noReset;
        else
            return fail(u"--before takes default-reset or no-reset, not '%1'."_s.arg(*value));
    } else {
        const QString mode = hyphenated(*value);
        if (mode == u"hard-reset"_s)
            run.after = AfterReset::hardReset;
        else if (mode == u"no-reset"_s)
            run.after = AfterReset::noReset;
        else
            return fail(u"--after takes hard-reset or no-reset, not '%1'."_s.arg(*value));
    }
    return true;
}

bool Parser::parseWriteOption(const Option& option)
{
    WriteSettings& write = m_result.invocation.write;
    const QString& name = option.name;
    if (name == u"--compress"_s || name == u"-z"_s) {
        m_compressSeen = true;
        write.compress = true;
        return true;
    }
    if (name == u"--no-compress"_s || name == u"-u"_s) {
        m_noCompressSeen = true;
        write.compress = false;
        return true;
    }
    if (name == u"--help"_s || name == u"-h"_s) {
        m_helpAsked = true;
        return true;
    }
    if (name == u"--force"_s) {
        m_result.invocation.session.force = true;
        return true;
    }
    if (name == u"--no-skip"_s) {
        write.skip = false;
        return true;
    }
    // The name other flashers give to skipping what is already there, which is always done.
    if (name == u"--skip-flashed"_s)
        return true;
    const bool isMode = name == u"--flash-mode"_s || name == u"-fm"_s;
    const bool isFrequency = name == u"--flash-freq"_s || name == u"-ff"_s;
    const bool isSize = name == u"--flash-size"_s || name == u"-fs"_s;
    if (!isMode && !isFrequency && !isSize)
        return fail(u"unknown option %1 for write-flash."_s.arg(name));
    const std::optional<QString> value = valueOf(option);
    if (!value)
        return false;
    if (isMode) {
        const std::optional<flash::Mode> mode = flash::modeFromName(*value);
        if (!mode)
            return fail(
                u"--flash-mode takes keep, qio, qout, dio or dout, not '%1'."_s.arg(*value));
        write.mode = *mode;
    } else if (isFrequency) {
        const std::optional<flash::Frequency> frequency = flash::frequencyFromName(*value);
        if (!frequency) {
            return fail(u"--flash-freq takes keep, 80m, 40m, 26m or 20m, not '%1'."_s.arg(*value));
        }
        write.frequency = *frequency;
    } else if (value->compare(u"detect"_s, Qt::CaseInsensitive) == 0) {
        write.size = FlashSizeChoice{FlashSizeChoice::Kind::detect, 0};
    } else if (value->compare(u"keep"_s, Qt::CaseInsensitive) == 0) {
        write.size = FlashSizeChoice{FlashSizeChoice::Kind::keep, 0};
    } else if (const std::optional<quint32> bytes = flash::sizeFromName(*value)) {
        write.size = FlashSizeChoice{FlashSizeChoice::Kind::fixed, *bytes};
    } else {
        return fail(u"--flash-size takes detect, keep, 1MB, 2MB, 4MB, 8MB or 16MB, not '%1'."_s.arg(
            *value));
    }
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
            if (!parseWriteOption(splitOption(token)))
                return false;
        } else {
            positionals.append(token);
        }
    }
    if (m_helpAsked)
        return true;
    if (m_compressSeen && m_noCompressSeen)
        return fail(u"--compress and --no-compress exclude each other."_s);
    return parseItems(positionals);
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
        while (!atEnd()) {
            const Option option = splitOption(m_arguments[m_index++]);
            if (option.name == u"--force"_s)
                m_result.invocation.session.force = true;
            else if (option.name == u"--help"_s || option.name == u"-h"_s)
                m_helpAsked = true;
            else
                return fail(u"erase-flash takes no argument '%1'."_s.arg(option.name));
        }
        return true;
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
        if (!parseGlobalOption(splitOption(m_arguments[m_index++])))
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
    return usageLine() + u"\n"
                         "\n"
                         "Writes or erases the flash of an ESP32 through its ROM serial loader.\n"
                         "\n"
                         "Global options (before the command):\n"
                         "  -c, --chip esp32|auto       chip type; only the ESP32 is supported\n"
                         "  -p, --port PORT             serial device, e.g. /dev/ttyUSB0\n"
                         "  -b, --baud N                rate for the transfer (default 115200)\n"
                         "  --before default-reset|no-reset\n"
                         "                              reset into the loader first (default)\n"
                         "  -a, --after hard-reset|no-reset\n"
                         "                              start the firmware when done (default)\n"
                         "  --no-baud-fallback          fail on a line too noisy for the rate\n"
                         "                              instead of moving to a lower one\n"
                         "\n"
                         "Commands:\n"
                         "  write-flash [options] ADDRESS FILE [ADDRESS FILE ...]\n"
                         "    -z, --compress            send the data compressed\n"
                         "    -u, --no-compress         send the data as it is (default)\n"
                         "    -fm, --flash-mode keep|qio|qout|dio|dout\n"
                         "    -ff, --flash-freq keep|80m|40m|26m|20m\n"
                         "    -fs, --flash-size detect|keep|1MB|2MB|4MB|8MB|16MB\n"
                         "        mode, frequency and size are written into the header of an\n"
                         "        image at 0x1000 (the bootloader); other data is left alone\n"
                         "    --no-skip                 write everything, even where the board\n"
                         "                              already holds it (by default a piece the\n"
                         "                              chip's MD5 shows there is skipped)\n"
                         "    --skip-flashed            accepted; skipping is on anyway\n"
                         "    --force                   write even where the eFuses say the\n"
                         "                              board would no longer boot\n"
                         "  erase-flash [--force]       erase the whole flash\n"
                         "  version                     print the version\n"
                         "\n"
                         "Underscore spellings (write_flash, --flash_mode, default_reset, ...) "
                         "are accepted too.\n"
                         "Exit status: 0 on success, 2 for bad arguments, 1 for any other "
                         "failure."_s;
}

}  // namespace esptool::cli
