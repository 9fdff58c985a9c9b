#include "esp32sim/host/CommandLine.h"

#include <QCommandLineParser>
#include <QFile>

#include <array>
#include <limits>
#include <utility>

using namespace Qt::StringLiterals;

namespace esp32sim {

namespace {

constexpr quint32 miB = 1024 * 1024;
constexpr int maxUnsupportedRepeats = 64;
constexpr double maxFlipRate = 0.1;
constexpr qint64 maxFlashCryptCount = 0x7F;

const std::array<std::pair<QLatin1StringView, quint32>, 5> flashSizes = {{
    {"1MB"_L1, 1 * miB},
    {"2MB"_L1, 2 * miB},
    {"4MB"_L1, 4 * miB},
    {"8MB"_L1, 8 * miB},
    {"16MB"_L1, 16 * miB},
}};

std::optional<quint32> parseHex(QString text)
{
    if (text.startsWith(u"0x"_s, Qt::CaseInsensitive))
        text = text.mid(2);
    bool ok = false;
    const uint value = text.toUInt(&ok, 16);
    if (!ok || text.isEmpty())
        return std::nullopt;
    return quint32(value);
}

// Decimal, or hexadecimal with 0x.
std::optional<qint64> parseNumber(const QString& text)
{
    bool ok = false;
    const qint64 value = text.startsWith(u"0x"_s, Qt::CaseInsensitive)
                             ? text.mid(2).toLongLong(&ok, 16)
                             : text.toLongLong(&ok, 10);
    if (!ok)
        return std::nullopt;
    return value;
}

struct OptionSet
{
    QCommandLineOption flashSize{u"flash-size"_s, u"1MB|2MB|4MB|8MB|16MB (default 4MB)."_s,
                                 u"SIZE"_s};
    QCommandLineOption jedecId{u"jedec-id"_s, u"JEDEC ID read by RDID."_s, u"HEX"_s};
    QCommandLineOption chipMagic{u"chip-magic"_s, u"Value of the magic register 0x40001000."_s,
                                 u"HEX"_s};
    QCommandLineOption timing{u"timing"_s, u"Hold replies back for the modelled time."_s};
    QCommandLineOption checkBaud{
        u"check-baud"_s, u"Ignore frames the client sends at another rate than the chip's."_s};
    QCommandLineOption noSync{u"no-sync"_s, u"Never answer SYNC."_s};
    QCommandLineOption dropAfter{u"drop-after"_s, u"Hang up after N bytes received."_s, u"N"_s};
    QCommandLineOption corruptReply{u"corrupt-reply"_s,
                                    u"Corrupt the N-th reply frame sent (1-based)."_s, u"N"_s};
    QCommandLineOption writeErrorBlock{
        u"write-error-block"_s, u"Fail the data block with sequence number K (0x08)."_s, u"K"_s};
    QCommandLineOption writeErrorTimes{u"write-error-times"_s,
                                       u"Fail that block only the first N times."_s, u"N"_s};
    QCommandLineOption fill{u"fill"_s, u"Initial flash content byte."_s, u"BYTE"_s};
    QCommandLineOption efuse{u"efuse"_s, u"Replace eFuse word WORD (0-6)."_s, u"WORD=HEX"_s};
    QCommandLineOption unsupportedRepeats{
        u"unsupported-repeats"_s, u"Copies of the error frame for an unknown command."_s, u"N"_s};
    QCommandLineOption flipRate{
        u"flip-rate"_s, u"Chance per byte of a flipped bit, both ways, after SYNC."_s, u"RATE"_s};
    QCommandLineOption seed{u"seed"_s, u"Seed of the flips (default 1)."_s, u"N"_s};
    QCommandLineOption applyRepeats{u"apply-repeats"_s,
                                    u"Apply a data block sent again instead of refusing it."_s};
    QCommandLineOption bootFromFlash{u"boot-from-flash"_s,
                                     u"Run firmware: print the boot banner, ignore SYNC."_s};
    QCommandLineOption loseBaudChange{
        u"lose-baud-change"_s,
        u"Lose the first CHANGE_BAUDRATE's reply (switched) or request (ignored)."_s,
        u"switched|ignored"_s};
    QCommandLineOption link{u"link"_s, u"Serve the port under this stable path (a symlink)."_s,
                            u"PATH"_s};
    QCommandLineOption returnAfter{u"return-after"_s,
                                   u"After the drop, bring the link back after MS ms."_s, u"MS"_s};
    QCommandLineOption busyAfterReturn{u"busy-after-return"_s,
                                       u"Hold the returned port locked for MS ms."_s, u"MS"_s};
    QCommandLineOption otherBoardReturns{u"other-board-returns"_s,
                                         u"Another board (MAC) comes back after the drop."_s};
    QCommandLineOption restartAfter{u"restart-after"_s,
                                    u"Restart the chip after N bytes received."_s, u"N"_s};
    QCommandLineOption restartTimes{u"restart-times"_s,
                                    u"Restart K times, every N bytes (default 1)."_s, u"K"_s};
    QCommandLineOption restartCause{u"restart-cause"_s,
                                    u"Reset cause of the restart (default power-on)."_s,
                                    u"power-on|brown-out"_s};
    QCommandLineOption restartInto{
        u"restart-into"_s,
        u"Restart into the loader, or into a boot loop over the half-written flash."_s,
        u"loader|firmware"_s};
    QCommandLineOption flipAbove{
        u"flip-above"_s, u"Flip bits only while the session's rate is above BAUD."_s, u"BAUD"_s};
    QCommandLineOption garbleStatus{
        u"garble-status"_s, u"Report the K-th data block as failed (0x00) although written."_s,
        u"K"_s};
    QCommandLineOption flashCryptCount{
        u"flash-crypt-cnt"_s, u"eFuse FLASH_CRYPT_CNT (0-127); odd bit count: encryption on."_s,
        u"N"_s};
    QCommandLineOption secureBoot{u"secure-boot"_s, u"Burn the eFuse of secure boot v1 or v2."_s,
                                  u"v1|v2"_s};
    QCommandLineOption disableDownloadEncrypt{u"disable-dl-encrypt"_s,
                                              u"Burn the eFuse DISABLE_DL_ENCRYPT."_s};
    QCommandLineOption md5Rate{u"md5-rate"_s,
                               u"SPI_FLASH_MD5 speed in KiB/s (default 3906: 250 ns a byte)."_s,
                               u"KIBPS"_s};
    QCommandLineOption load{u"load"_s, u"Start with FILE in the flash at ADDR (default 0)."_s,
                            u"[ADDR=]FILE"_s};
    QCommandLineOption dump{u"dump"_s, u"Write the flash array to FILE at exit."_s, u"FILE"_s};
    QCommandLineOption stats{u"stats"_s, u"Write the modelled figures as JSON at exit."_s,
                             u"FILE"_s};
    QCommandLineOption exitWithStdin{u"exit-with-stdin"_s,
                                     u"Stop, as on SIGTERM, once standard input closes."_s};
    QCommandLineOption help{QStringList{u"h"_s, u"help"_s}, u"Show the options."_s};

    void addTo(QCommandLineParser& parser) const
    {
        parser.addOptions({flashSize,
                           jedecId,
                           chipMagic,
                           timing,
                           checkBaud,
                           noSync,
                           dropAfter,
                           corruptReply,
                           writeErrorBlock,
                           writeErrorTimes,
                           fill,
                           efuse,
                           unsupportedRepeats,
                           flipRate,
                           seed,
                           applyRepeats,
                           bootFromFlash,
                           loseBaudChange,
                           link,
                           returnAfter,
                           busyAfterReturn,
                           otherBoardReturns,
                           restartAfter,
                           restartTimes,
                           restartCause,
                           restartInto,
                           flipAbove,
                           garbleStatus,
                           flashCryptCount,
                           secureBoot,
                           disableDownloadEncrypt,
                           md5Rate,
                           load,
                           dump,
                           stats,
                           exitWithStdin,
                           help});
    }
};

void prepare(QCommandLineParser& parser, const OptionSet& options)
{
    parser.setApplicationDescription(
        u"Simulated ESP32 ROM loader on a pseudo-terminal. Prints the slave path on the first "
        "line of standard output and runs until SIGTERM or SIGINT."_s);
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    options.addTo(parser);
}

// Reads one numeric option within [minimum, maximum]; false with a message when it is bad.
template <typename T>
bool readNumber(const QCommandLineParser& parser, const QCommandLineOption& option, qint64 minimum,
                qint64 maximum, std::optional<T>& target, QString& error)
{
    if (!parser.isSet(option))
        return true;
    const QString text = parser.value(option);
    const std::optional<qint64> value = parseNumber(text);
    if (!value || *value < minimum || *value > maximum) {
        error = u"invalid value for --%1: %2"_s.arg(option.names().constFirst(), text);
        return false;
    }
    target = T(*value);
    return true;
}

// One of a few words, or an error naming them.
template <typename T, std::size_t N>
bool readChoice(const QCommandLineParser& parser, const QCommandLineOption& option,
                const std::array<std::pair<QLatin1StringView, T>, N>& choices, T& target,
                QString& error)
{
    if (!parser.isSet(option))
        return true;
    const QString text = parser.value(option);
    QStringList names;
    for (const auto& [name, value] : choices) {
        if (text == name) {
            target = value;
            return true;
        }
        names << name;
    }
    error = u"invalid value for --%1: %2 (%3)"_s.arg(option.names().constFirst(), text,
                                                     names.join(u" or "_s));
    return false;
}

bool readRestart(const QCommandLineParser& parser, const OptionSet& o, FaultOptions& faults,
                 QString& error)
{
    std::optional<qint64> after;
    std::optional<int> times;
    RestartFault restart;
    const bool ok =
        readNumber(parser, o.restartAfter, 1, std::numeric_limits<qint64>::max(), after, error) &&
        readNumber(parser, o.restartTimes, 1, std::numeric_limits<int>::max(), times, error) &&
        readChoice(parser, o.restartCause,
                   std::array{std::pair{"power-on"_L1, ResetCause::powerOn},
                              std::pair{"brown-out"_L1, ResetCause::brownOut}},
                   restart.cause, error) &&
        readChoice(parser, o.restartInto,
                   std::array{std::pair{"loader"_L1, RestartFault::Into::loader},
                              std::pair{"firmware"_L1, RestartFault::Into::firmware}},
                   restart.into, error);
    if (!ok)
        return false;
    if (!after) {
        if (parser.isSet(o.restartTimes) || parser.isSet(o.restartCause) ||
            parser.isSet(o.restartInto)) {
            error = u"--restart-times, --restart-cause and --restart-into need --restart-after"_s;
            return false;
        }
        return true;
    }
    restart.afterBytes = *after;
    restart.times = times.value_or(1);
    faults.restart = restart;
    return true;
}

bool readSecurity(const QCommandLineParser& parser, const OptionSet& o, SecurityEfuses& security,
                  QString& error)
{
    using SecureBoot = SecurityEfuses::SecureBoot;
    security.downloadEncryptionDisabled = parser.isSet(o.disableDownloadEncrypt);
    return readNumber(parser, o.flashCryptCount, 0, maxFlashCryptCount, security.flashCryptCount,
                      error) &&
           readChoice(
               parser, o.secureBoot,
               std::array{std::pair{"v1"_L1, SecureBoot::v1}, std::pair{"v2"_L1, SecureBoot::v2}},
               security.secureBoot, error);
}

// Each --load [ADDR=]FILE, read now so that a missing file is a usage error.
bool readPresets(const QCommandLineParser& parser, const OptionSet& o, SimulatorOptions& sim,
                 QString& error)
{
    for (const QString& value : parser.values(o.load)) {
        const qsizetype equals = value.indexOf(u'=');
        const QString path = value.mid(equals + 1);
        const std::optional<qint64> address =
            equals < 0 ? std::optional<qint64>(0) : parseNumber(value.left(equals));
        if (!address || *address < 0 || *address >= qint64(sim.flashSize) || path.isEmpty()) {
            error = u"invalid value for --load: %1 (use [ADDR=]FILE, ADDR inside the flash)"_s.arg(
                value);
            return false;
        }
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            error = u"cannot read --load %1: %2"_s.arg(path, file.errorString());
            return false;
        }
        const QByteArray bytes = file.readAll();
        if (*address + bytes.size() > qint64(sim.flashSize)) {
            error = u"--load %1: %2 bytes at 0x%3 run past the end of the flash (0x%4)"_s.arg(
                path, QString::number(bytes.size()), QString::number(*address, 16),
                QString::number(sim.flashSize, 16));
            return false;
        }
        sim.flashPresets.append({quint32(*address), bytes});
    }
    return true;
}

}  // namespace

QString commandLineHelp()
{
    QCommandLineParser parser;
    const OptionSet options;
    prepare(parser, options);
    return parser.helpText();
}

ParsedCommandLine parseCommandLine(const QStringList& arguments)
{
    QCommandLineParser parser;
    const OptionSet o;
    prepare(parser, o);
    ParsedCommandLine parsed;
    if (!parser.parse(arguments)) {
        parsed.error = parser.errorText();
        return parsed;
    }
    if (parser.isSet(o.help)) {
        parsed.helpRequested = true;
        return parsed;
    }
    if (!parser.positionalArguments().isEmpty()) {
        parsed.error = u"unexpected argument: %1"_s.arg(parser.positionalArguments().constFirst());
        return parsed;
    }

    CommandLineOptions result;
    SimulatorOptions& sim = result.simulator;
    QString& error = parsed.error;

    if (parser.isSet(o.flashSize)) {
        const QString text = parser.value(o.flashSize);
        bool found = false;
        for (const auto& [name, size] : flashSizes) {
            if (text.compare(name, Qt::CaseInsensitive) == 0) {
                sim.flashSize = size;
                found = true;
            }
        }
        if (!found) {
            error =
                u"invalid value for --flash-size: %1 (use 1MB, 2MB, 4MB, 8MB or 16MB)"_s.arg(text);
            return parsed;
        }
    }
    for (const auto* option : {&o.jedecId, &o.chipMagic}) {
        if (!parser.isSet(*option))
            continue;
        const std::optional<quint32> value = parseHex(parser.value(*option));
        if (!value) {
            error = u"invalid value for --%1: %2"_s.arg(option->names().constFirst(),
                                                        parser.value(*option));
            return parsed;
        }
        if (option == &o.jedecId)
            sim.jedecId = *value;
        else
            sim.chipMagic = *value;
    }
    for (const QString& assignment : parser.values(o.efuse)) {
        const qsizetype equals = assignment.indexOf(u'=');
        bool indexOk = false;
        const int index = assignment.left(equals).toInt(&indexOk);
        const std::optional<quint32> value =
            equals > 0 ? parseHex(assignment.mid(equals + 1)) : std::nullopt;
        if (!indexOk || index < 0 || index >= efuseWordCount || !value) {
            error = u"invalid value for --efuse: %1 (use WORD=HEX, WORD 0-6)"_s.arg(assignment);
            return parsed;
        }
        sim.efuseWords.at(std::size_t(index)) = *value;
    }

    constexpr qint64 maxInt = std::numeric_limits<int>::max();
    constexpr qint64 maxU32 = std::numeric_limits<quint32>::max();
    std::optional<int> repeats;
    const bool numbersOk =
        readNumber(parser, o.fill, 0, 0xFF, sim.fill, error) &&
        readNumber(parser, o.dropAfter, 1, std::numeric_limits<qint64>::max(),
                   sim.faults.dropAfterBytes, error) &&
        readNumber(parser, o.corruptReply, 1, std::numeric_limits<qint64>::max(),
                   sim.faults.corruptReply, error) &&
        readNumber(parser, o.writeErrorBlock, 0, maxU32, sim.faults.writeErrorBlock, error) &&
        readNumber(parser, o.writeErrorTimes, 1, maxInt, sim.faults.writeErrorTimes, error) &&
        readNumber(parser, o.unsupportedRepeats, 1, maxUnsupportedRepeats, repeats, error);
    std::optional<qint64> returnMs;
    std::optional<qint64> busyMs;
    std::optional<quint64> seed;
    FaultOptions& faults = sim.faults;
    const bool faultNumbersOk =
        numbersOk && readNumber(parser, o.returnAfter, 0, maxInt, returnMs, error) &&
        readNumber(parser, o.busyAfterReturn, 0, maxInt, busyMs, error) &&
        readNumber(parser, o.seed, 0, std::numeric_limits<qint64>::max(), seed, error) &&
        readNumber(parser, o.flipAbove, 0, maxU32, faults.flipAboveBaud, error) &&
        readNumber(parser, o.garbleStatus, 1, std::numeric_limits<qint64>::max(),
                   faults.garbleStatusBlock, error) &&
        readNumber(parser, o.md5Rate, 1, maxU32, sim.md5KibPerSecond, error) &&
        readRestart(parser, o, faults, error) && readSecurity(parser, o, sim.security, error) &&
        readPresets(parser, o, sim, error);
    if (!faultNumbersOk)
        return parsed;
    if (returnMs)
        faults.returnAfter = std::chrono::milliseconds(*returnMs);
    if (busyMs)
        faults.busyAfterReturn = std::chrono::milliseconds(*busyMs);
    faults.seed = seed.value_or(1);
    if (parser.isSet(o.flipRate)) {
        bool ok = false;
        faults.flipRate = parser.value(o.flipRate).toDouble(&ok);
        if (!ok || faults.flipRate < 0 || faults.flipRate > maxFlipRate) {
            error = u"invalid value for --flip-rate: %1 (a chance per byte, 0 to 0.1)"_s.arg(
                parser.value(o.flipRate));
            return parsed;
        }
    }
    if (parser.isSet(o.loseBaudChange)) {
        const QString what = parser.value(o.loseBaudChange);
        if (what != u"switched"_s && what != u"ignored"_s) {
            error = u"invalid value for --lose-baud-change: %1 (switched or ignored)"_s.arg(what);
            return parsed;
        }
        faults.baudChange = what == u"switched"_s ? FaultOptions::BaudChange::replyLost
                                                  : FaultOptions::BaudChange::requestLost;
        // Finding the chip's rate means hearing SYNC at that rate only.
        sim.checkLineBaud = true;
    }
    faults.applyRepeats = parser.isSet(o.applyRepeats);
    faults.bootFromFlash = parser.isSet(o.bootFromFlash);
    faults.otherBoardReturns = parser.isSet(o.otherBoardReturns);
    sim.linkPath = parser.value(o.link);
    const bool returns = faults.returnAfter.has_value();
    if ((returns && (sim.linkPath.isEmpty() || !faults.dropAfterBytes.has_value())) ||
        ((faults.busyAfterReturn || faults.otherBoardReturns) && !returns)) {
        error = u"--return-after needs --drop-after and --link; --busy-after-return and "
                "--other-board-returns need --return-after"_s;
        return parsed;
    }
    sim.unsupportedRepeats = repeats.value_or(1);
    sim.timing = parser.isSet(o.timing);
    sim.checkLineBaud = sim.checkLineBaud || parser.isSet(o.checkBaud);
    sim.faults.noSync = parser.isSet(o.noSync);
    result.dumpPath = parser.value(o.dump);
    result.statsPath = parser.value(o.stats);
    result.exitWithStdin = parser.isSet(o.exitWithStdin);
    parsed.options = result;
    return parsed;
}

}  // namespace esp32sim
