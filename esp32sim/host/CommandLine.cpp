#include "esp32sim/host/CommandLine.h"

#include <QCommandLineParser>
#include <QFile>

#include <array>
#include <limits>
#include <type_traits>
#include <utility>

using namespace Qt::StringLiterals;

namespace esp32sim {

namespace {

constexpr quint32 mebibyte = 1024 * 1024;
constexpr qint64 maxUnsupportedRepeats = 64;
constexpr double maxFlipRate = 0.1;
constexpr qint64 maxFlashCryptCount = 0x7F;
constexpr qint64 maxInt = std::numeric_limits<int>::max();
constexpr qint64 maxU32 = std::numeric_limits<quint32>::max();
constexpr qint64 maxI64 = std::numeric_limits<qint64>::max();

// Why a value was refused, as the whole message; empty when it was taken.
using Refusal = std::optional<QString>;

template <typename T, std::size_t N>
using Choices = std::array<std::pair<QLatin1StringView, T>, N>;

// Decimal, or hexadecimal with 0x.
std::optional<qint64> parseNumber(const QString& text)
{
    bool ok = false;
    const qint64 value = text.startsWith(u"0x"_s, Qt::CaseInsensitive)
                             ? text.mid(2).toLongLong(&ok, 16)
                             : text.toLongLong(&ok, 10);
    return ok ? std::optional(value) : std::nullopt;
}

// Hexadecimal, with or without 0x.
std::optional<quint32> parseHex(QString text)
{
    if (text.startsWith(u"0x"_s, Qt::CaseInsensitive))
        text = text.mid(2);
    bool ok = false;
    const uint value = text.toUInt(&ok, 16);
    return ok && !text.isEmpty() ? std::optional(quint32(value)) : std::nullopt;
}

// One value given to an option (empty for a flag), and the ways to read it.
class Given
{
public:
    Given(QLatin1StringView option, QString text)
        : m_option(option)
        , m_text(std::move(text))
    {}

    const QString& text() const { return m_text; }

    // A flag: it has no value, and being given sets `target`.
    Refusal switchOn(bool& target) const
    {
        target = true;
        return std::nullopt;
    }

    Refusal path(QString& target) const
    {
        target = m_text;
        return std::nullopt;
    }

    QString invalid(const QString& hint = {}) const
    {
        const QString message = u"invalid value for --%1: %2"_s.arg(m_option, m_text);
        return hint.isEmpty() ? message : message + u" ("_s + hint + u')';
    }

    template <typename T>
    Refusal number(qint64 minimum, qint64 maximum, T& target) const
    {
        const std::optional<qint64> value = parseNumber(m_text);
        if (!value || *value < minimum || *value > maximum)
            return invalid();
        target = T(*value);
        return std::nullopt;
    }

    template <typename T>
    Refusal number(qint64 minimum, qint64 maximum, std::optional<T>& target) const
    {
        T value{};
        if (Refusal refusal = number(minimum, maximum, value))
            return refusal;
        target = value;
        return std::nullopt;
    }

    template <typename T>
    Refusal hex(T& target) const
    {
        const std::optional<quint32> value = parseHex(m_text);
        if (!value)
            return invalid();
        if constexpr (std::is_same_v<T, std::optional<quint32>>)
            target = value;
        else
            target = *value;
        return std::nullopt;
    }

    template <typename T, std::size_t N>
    Refusal choice(const Choices<T, N>& choices, T& target) const
    {
        QStringList names;
        for (const auto& [name, value] : choices) {
            if (m_text.compare(name, Qt::CaseInsensitive) == 0) {
                target = value;
                return std::nullopt;
            }
            names << name;
        }
        const QString last = names.takeLast();
        return invalid(names.join(u", "_s) + u" or "_s + last);
    }

private:
    QLatin1StringView m_option;
    QString m_text;
};

using Options = CommandLineOptions;

// One option: its name, the name of its value (empty for a flag), its line in the help, and how
// it takes a value. An option given more than once takes each value in order.
struct Option
{
    QLatin1StringView name;
    QLatin1StringView valueName;
    QLatin1StringView description;
    Refusal (*take)(const Given& given, Options& into);
};

const Choices<quint32, 5> flashSizes = {{
    {"1MB"_L1, 1 * mebibyte},
    {"2MB"_L1, 2 * mebibyte},
    {"4MB"_L1, 4 * mebibyte},
    {"8MB"_L1, 8 * mebibyte},
    {"16MB"_L1, 16 * mebibyte},
}};
const Choices<FaultOptions::BaudChange, 2> baudChangeLosses = {{
    {"switched"_L1, FaultOptions::BaudChange::replyLost},
    {"ignored"_L1, FaultOptions::BaudChange::requestLost},
}};
const Choices<ResetCause, 2> resetCauses = {{
    {"power-on"_L1, ResetCause::powerOn},
    {"brown-out"_L1, ResetCause::brownOut},
}};
const Choices<RestartFault::Into, 2> restartTargets = {{
    {"loader"_L1, RestartFault::Into::loader},
    {"firmware"_L1, RestartFault::Into::firmware},
}};
const Choices<SecurityEfuses::SecureBoot, 2> secureBootVersions = {{
    {"v1"_L1, SecurityEfuses::SecureBoot::v1},
    {"v2"_L1, SecurityEfuses::SecureBoot::v2},
}};

RestartFault& restartOf(Options& options)
{
    std::optional<RestartFault>& restart = options.simulator.faults.restart;
    if (!restart)
        restart.emplace();
    return *restart;
}

// WORD=HEX, WORD 0-6.
Refusal takeEfuse(const Given& given, Options& into)
{
    const qsizetype equals = given.text().indexOf(u'=');
    bool indexOk = false;
    const int index = given.text().left(equals).toInt(&indexOk);
    const std::optional<quint32> value =
        equals > 0 ? parseHex(given.text().mid(equals + 1)) : std::nullopt;
    if (!indexOk || index < 0 || index >= efuseWordCount || !value)
        return given.invalid(u"use WORD=HEX, WORD 0-6"_s);
    into.simulator.efuseWords.at(std::size_t(index)) = value;
    return std::nullopt;
}

// [ADDR=]FILE, read now so that a missing file is a usage error. The flash size must be known.
Refusal takeLoad(const Given& given, Options& into)
{
    SimulatorOptions& simulator = into.simulator;
    const qsizetype equals = given.text().indexOf(u'=');
    const QString path = given.text().mid(equals + 1);
    const std::optional<qint64> address =
        equals < 0 ? std::optional<qint64>(0) : parseNumber(given.text().left(equals));
    if (!address || *address < 0 || *address >= qint64(simulator.flashSize) || path.isEmpty())
        return given.invalid(u"use [ADDR=]FILE, ADDR inside the flash"_s);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return u"cannot read --load %1: %2"_s.arg(path, file.errorString());
    const QByteArray bytes = file.readAll();
    if (*address + bytes.size() > qint64(simulator.flashSize)) {
        return u"--load %1: %2 bytes at 0x%3 run past the end of the flash (0x%4)"_s.arg(
            path, QString::number(bytes.size()), QString::number(*address, 16),
            QString::number(simulator.flashSize, 16));
    }
    simulator.flashPresets.append({quint32(*address), bytes});
    return std::nullopt;
}

Refusal takeFlipRate(const Given& given, Options& into)
{
    bool ok = false;
    const double rate = given.text().toDouble(&ok);
    if (!ok || rate < 0 || rate > maxFlipRate)
        return given.invalid(u"a chance per byte, 0 to 0.1"_s);
    into.simulator.faults.flipRate = rate;
    return std::nullopt;
}

Refusal takeLostBaudChange(const Given& given, Options& into)
{
    // Finding the chip's rate means hearing SYNC at that rate only.
    into.simulator.checkLineBaud = true;
    return given.choice(baudChangeLosses, into.simulator.faults.baudChange);
}

// In the order they are taken: --flash-size before --load, which checks addresses against it.
const auto knownOptions = std::to_array<Option>({
    {"flash-size"_L1, "SIZE"_L1, "1MB|2MB|4MB|8MB|16MB (default 4MB)."_L1,
     [](const Given& g, Options& o) { return g.choice(flashSizes, o.simulator.flashSize); }},
    {"jedec-id"_L1, "HEX"_L1, "JEDEC ID read by RDID."_L1,
     [](const Given& g, Options& o) { return g.hex(o.simulator.jedecId); }},
    {"chip-magic"_L1, "HEX"_L1, "Value of the magic register 0x40001000."_L1,
     [](const Given& g, Options& o) { return g.hex(o.simulator.chipMagic); }},
    {"timing"_L1, ""_L1, "Hold replies back for the modelled time."_L1,
     [](const Given& g, Options& o) { return g.switchOn(o.simulator.timing); }},
    {"check-baud"_L1, ""_L1, "Ignore frames the client sends at another rate than the chip's."_L1,
     [](const Given& g, Options& o) { return g.switchOn(o.simulator.checkLineBaud); }},
    {"no-sync"_L1, ""_L1, "Never answer SYNC."_L1,
     [](const Given& g, Options& o) { return g.switchOn(o.simulator.faults.noSync); }},
    {"drop-after"_L1, "N"_L1, "Hang up after N bytes received."_L1,
     [](const Given& g, Options& o) {
         return g.number(1, maxI64, o.simulator.faults.dropAfterBytes);
     }},
    {"corrupt-reply"_L1, "N"_L1, "Corrupt the N-th reply frame sent (1-based)."_L1,
     [](const Given& g, Options& o) {
         return g.number(1, maxI64, o.simulator.faults.corruptReply);
     }},
    {"write-error-block"_L1, "K"_L1, "Fail the data block with sequence number K (0x08)."_L1,
     [](const Given& g, Options& o) {
         return g.number(0, maxU32, o.simulator.faults.writeErrorBlock);
     }},
    {"write-error-times"_L1, "N"_L1, "Fail that block only the first N times."_L1,
     [](const Given& g, Options& o) {
         return g.number(1, maxInt, o.simulator.faults.writeErrorTimes);
     }},
    {"fill"_L1, "BYTE"_L1, "Initial flash content byte."_L1,
     [](const Given& g, Options& o) { return g.number(0, 0xFF, o.simulator.fill); }},
    {"efuse"_L1, "WORD=HEX"_L1, "Replace eFuse word WORD (0-6)."_L1, takeEfuse},
    {"unsupported-repeats"_L1, "N"_L1, "Copies of the error frame for an unknown command."_L1,
     [](const Given& g, Options& o) {
         return g.number(1, maxUnsupportedRepeats, o.simulator.unsupportedRepeats);
     }},
    {"flip-rate"_L1, "RATE"_L1, "Chance per byte of a flipped bit, both ways, after SYNC."_L1,
     takeFlipRate},
    {"seed"_L1, "N"_L1, "Seed of the flips (default 1)."_L1,
     [](const Given& g, Options& o) { return g.number(0, maxI64, o.simulator.faults.seed); }},
    {"apply-repeats"_L1, ""_L1, "Apply a data block sent again instead of refusing it."_L1,
     [](const Given& g, Options& o) { return g.switchOn(o.simulator.faults.applyRepeats); }},
    {"boot-from-flash"_L1, ""_L1, "Run firmware: print the boot banner, ignore SYNC."_L1,
     [](const Given& g, Options& o) { return g.switchOn(o.simulator.faults.bootFromFlash); }},
    {"lose-baud-change"_L1, "switched|ignored"_L1,
     "Lose the first CHANGE_BAUDRATE's reply (switched) or request (ignored)."_L1,
     takeLostBaudChange},
    {"link"_L1, "PATH"_L1, "Serve the port under this stable path (a symlink)."_L1,
     [](const Given& g, Options& o) { return g.path(o.simulator.linkPath); }},
    {"return-after"_L1, "MS"_L1, "After the drop, bring the link back after MS ms."_L1,
     [](const Given& g, Options& o) {
         return g.number(0, maxInt, o.simulator.faults.returnAfter);
     }},
    {"busy-after-return"_L1, "MS"_L1, "Hold the returned port locked for MS ms."_L1,
     [](const Given& g, Options& o) {
         return g.number(0, maxInt, o.simulator.faults.busyAfterReturn);
     }},
    {"other-board-returns"_L1, ""_L1, "Another board (MAC) comes back after the drop."_L1,
     [](const Given& g, Options& o) { return g.switchOn(o.simulator.faults.otherBoardReturns); }},
    {"restart-after"_L1, "N"_L1, "Restart the chip after N bytes received."_L1,
     [](const Given& g, Options& o) { return g.number(1, maxI64, restartOf(o).afterBytes); }},
    {"restart-times"_L1, "K"_L1, "Restart K times, every N bytes (default 1)."_L1,
     [](const Given& g, Options& o) { return g.number(1, maxInt, restartOf(o).times); }},
    {"restart-cause"_L1, "power-on|brown-out"_L1,
     "Reset cause of the restart (default power-on)."_L1,
     [](const Given& g, Options& o) { return g.choice(resetCauses, restartOf(o).cause); }},
    {"restart-into"_L1, "loader|firmware"_L1,
     "Restart into the loader, or into a boot loop over the half-written flash."_L1,
     [](const Given& g, Options& o) { return g.choice(restartTargets, restartOf(o).into); }},
    {"flip-above"_L1, "BAUD"_L1, "Flip bits only while the session's rate is above BAUD."_L1,
     [](const Given& g, Options& o) {
         return g.number(0, maxU32, o.simulator.faults.flipAboveBaud);
     }},
    {"garble-status"_L1, "K"_L1, "Report the K-th data block as failed (0x00) although written."_L1,
     [](const Given& g, Options& o) {
         return g.number(1, maxI64, o.simulator.faults.garbleStatusBlock);
     }},
    {"flash-crypt-cnt"_L1, "N"_L1,
     "eFuse FLASH_CRYPT_CNT (0-127); odd bit count: encryption on."_L1,
     [](const Given& g, Options& o) {
         return g.number(0, maxFlashCryptCount, o.simulator.security.flashCryptCount);
     }},
    {"secure-boot"_L1, "v1|v2"_L1, "Burn the eFuse of secure boot v1 or v2."_L1,
     [](const Given& g, Options& o) {
         return g.choice(secureBootVersions, o.simulator.security.secureBoot);
     }},
    {"disable-dl-encrypt"_L1, ""_L1, "Burn the eFuse DISABLE_DL_ENCRYPT."_L1,
     [](const Given& g, Options& o) {
         return g.switchOn(o.simulator.security.downloadEncryptionDisabled);
     }},
    {"md5-rate"_L1, "KIBPS"_L1, "SPI_FLASH_MD5 speed in KiB/s (default 3906: 250 ns a byte)."_L1,
     [](const Given& g, Options& o) { return g.number(1, maxU32, o.simulator.md5KibPerSecond); }},
    {"erase-rate"_L1, "KIBPS"_L1,
     "BEGIN's erase speed in KiB/s (default: a typical part's sector and block times)."_L1,
     [](const Given& g, Options& o) { return g.number(1, maxU32, o.simulator.eraseKibPerSecond); }},
    {"load"_L1, "[ADDR=]FILE"_L1, "Start with FILE in the flash at ADDR (default 0)."_L1, takeLoad},
    {"dump"_L1, "FILE"_L1, "Write the flash array to FILE at exit."_L1,
     [](const Given& g, Options& o) { return g.path(o.dumpPath); }},
    {"stats"_L1, "FILE"_L1, "Write the modelled figures as JSON at exit."_L1,
     [](const Given& g, Options& o) { return g.path(o.statsPath); }},
    {"exit-with-stdin"_L1, ""_L1, "Stop, as on SIGTERM, once standard input closes."_L1,
     [](const Given& g, Options& o) { return g.switchOn(o.exitWithStdin); }},
});

constexpr auto helpName = "help"_L1;

void prepare(QCommandLineParser& parser)
{
    parser.setApplicationDescription(
        u"Simulated ESP32 ROM loader on a pseudo-terminal. Prints the port's path on the first "
        "line of standard output and runs until SIGTERM or SIGINT."_s);
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    for (const Option& option : knownOptions)
        parser.addOption({option.name, option.description, option.valueName});
    parser.addOption(QCommandLineOption(QStringList{u"h"_s, helpName}, u"Show the options."_s));
}

Refusal takeAll(const QCommandLineParser& parser, Options& into)
{
    for (const Option& option : knownOptions) {
        const QStringList values = !option.valueName.isEmpty() ? parser.values(option.name)
                                   : parser.isSet(option.name) ? QStringList{QString()}
                                                               : QStringList{};
        for (const QString& value : values) {
            if (Refusal refusal = option.take(Given(option.name, value), into))
                return refusal;
        }
    }
    return std::nullopt;
}

// What one option needs of another.
Refusal checkCombinations(const Options& options)
{
    const FaultOptions& faults = options.simulator.faults;
    if (faults.restart && faults.restart->afterBytes == 0)
        return u"--restart-times, --restart-cause and --restart-into need --restart-after"_s;
    const bool returns = faults.returnAfter.has_value();
    if ((returns && (options.simulator.linkPath.isEmpty() || !faults.dropAfterBytes)) ||
        ((faults.busyAfterReturn || faults.otherBoardReturns) && !returns)) {
        return u"--return-after needs --drop-after and --link; --busy-after-return and "
               "--other-board-returns need --return-after"_s;
    }
    return std::nullopt;
}

}  // namespace

QString commandLineHelp()
{
    QCommandLineParser parser;
    prepare(parser);
    return parser.helpText();
}

ParsedCommandLine parseCommandLine(const QStringList& arguments)
{
    QCommandLineParser parser;
    prepare(parser);
    ParsedCommandLine parsed;
    if (!parser.parse(arguments)) {
        parsed.error = parser.errorText();
        return parsed;
    }
    if (parser.isSet(helpName)) {
        parsed.helpRequested = true;
        return parsed;
    }
    if (!parser.positionalArguments().isEmpty()) {
        parsed.error = u"unexpected argument: %1"_s.arg(parser.positionalArguments().constFirst());
        return parsed;
    }
    Options options;
    Refusal refusal = takeAll(parser, options);
    if (!refusal)
        refusal = checkCombinations(options);
    if (refusal)
        parsed.error = *refusal;
    else
        parsed.options = options;
    return parsed;
}

}  // namespace esp32sim
