#include "flasher/ChipSession.h"

#include "failure/Failure.h"
#include "flasher/BootDiagnosis.h"
#include "flasher/FlashParameters.h"
#include "flasher/FlasherObserver.h"
#include "flasher/PortReturn.h"
#include "flasher/SpiFlash.h"
#include "link/Agreement.h"
#include "link/ResetSequence.h"
#include "protocol/RomProtocol.h"

using namespace Qt::StringLiterals;

namespace esptool {

namespace {

// A CHANGE_BAUDRATE the chip refused, or whose reply was lost, is tried this often.
constexpr int baudChangeAttempts = 3;
constexpr int syncsPerBaudProbe = 3;
// The flash ID is read this often at most, until two reads agree.
constexpr int jedecIdRuns = 3;
// How long a port that went away may take to come back, and how often to look.
constexpr std::chrono::seconds portReturnWait{10};
constexpr std::chrono::milliseconds portReturnPoll{100};
// A chip in its session answers a register read within milliseconds; one that restarted never
// does. Three short tries tell the two apart on a noisy line without waiting out the standard
// timeout each time.
constexpr int sessionChecks = 3;
constexpr std::chrono::milliseconds sessionCheckTimeout{300};
// After a restart the ROM prints its banner once (waiting in its loader) or again every few
// hundred milliseconds (a watchdog restarting a firmware that cannot boot): this many SYNCs at
// 115200, with the pauses between them, listen for about two seconds.
constexpr int resyncSyncs = 12;
constexpr std::chrono::milliseconds resyncPause{60};

QString hex32(quint32 value)
{
    return u"0x%1"_s.arg(value, 8, 16, QLatin1Char('0'));
}

}  // namespace

ChipSession::ChipSession(std::unique_ptr<SerialLink> link, const SessionSettings& settings,
                         LinkOpener reopen, FlasherObserver& observer)
    : m_link(std::move(link))
    , m_reopen(std::move(reopen))
    , m_observer(observer)
    , m_rom(*m_link, settings.connectBaud())
    , m_path(m_link->portName())
    , m_connectBaud(settings.connectBaud())
    , m_sessionBaud(settings.baud)
    , m_before(settings.before)
{}

void ChipSession::say(const QString& line)
{
    if (!m_quiet)
        m_observer.info(line);
}

Status ChipSession::openSession(Start start)
{
    // While the session opens the chip may well print its banner: that is not a restart.
    m_rom.watchForRestarts(false);
    if (start == Start::reset) {
        if (Status connected = connect(); !connected)
            return connected;
    } else if (Status identified = identify(); !identified) {
        return identified;
    }
    if (Status step = changeBaud(m_sessionBaud); !step)
        return step;
    if (Status step = attachFlash(); !step)
        return step;
    if (m_flashParameters) {
        if (Status step = setFlashParameters(*m_flashParameters); !step)
            return step;
    }
    m_quiet = true;
    m_rom.watchForRestarts(true);
    return {};
}

Status ChipSession::connect()
{
    if (m_rom.baud() != m_connectBaud) {
        if (Status set = m_rom.retune(m_connectBaud); !set)
            return set;
    }
    say(u"Connecting to the ESP32 ROM loader on %1..."_s.arg(m_path));
    m_rom.startListening();
    const QList<ResetSequence> resets = ResetSequence::enterLoaderSequences();
    bool synced = false;
    for (int attempt = 0; attempt < rom::connectAttempts && !synced; ++attempt) {
        if (m_before == BeforeReset::defaultReset && m_hasModemLines &&
            resets[attempt % resets.size()].apply(*m_link) ==
                ResetSequence::Outcome::noModemLines) {
            noteMissingModemLines();
        }
        for (int sync = 0; sync < rom::syncsPerAttempt && !synced; ++sync) {
            const Result<bool> answered = m_rom.trySync();
            if (!answered)
                return answered.error();
            synced = answered.value();
            if (!synced)
                m_link->pause(rom::timeout::syncRetryPause);
        }
    }
    if (!synced)
        return noAnswerDiagnosis(m_path, m_rom.heard(), m_rom.bytesHeard());
    return identify();
}

Status ChipSession::identify()
{
    const Result<quint32> magic = m_rom.readRegConfirmed(rom::chipMagicRegister);
    if (!magic)
        return magic.error();
    if (magic.value() != rom::chipMagicEsp32) {
        return failure(Failure::wrongChip,
                       {m_path, hex32(magic.value()), hex32(rom::chipMagicEsp32)});
    }
    for (int word = 0; word < EfuseWords::count; ++word) {
        const Result<quint32> value = m_rom.readRegConfirmed(rom::efuseWordAddress(word));
        if (!value)
            return value.error();
        m_efuses.words[static_cast<std::size_t>(word)] = value.value();
    }
    const Result<quint32> date = m_rom.readRegConfirmed(rom::apbCtlDateRegister);
    if (!date)
        return date.error();
    m_efuses.apbCtlDate = date.value();
    const ChipDescription chip = describeChip(m_efuses);
    if (!m_mac.isEmpty()) {
        if (chip.mac == m_mac)
            return {};
        return failure(Failure::otherBoard,
                       {m_path, chip.macText(), QString::fromLatin1(m_mac.toHex(':'))});
    }
    m_mac = chip.mac;
    const Result<quint32> clockDiv = m_rom.readReg(rom::uartClockDivRegister);
    if (!clockDiv)
        return clockDiv.error();
    say(u"Connected to %1 (revision %2)."_s.arg(chip.package, chip.revisionText()));
    say(u"Features: %1"_s.arg(chip.features.join(u", "_s)));
    say(u"Crystal: %1 MHz"_s.arg(crystalMhz(clockDiv.value(), m_rom.baud())));
    say(u"MAC: %1"_s.arg(chip.macText()));
    return {};
}

Result<int> ChipSession::findChipBaud(int newBaud, int oldBaud)
{
    for (const int baud : {newBaud, oldBaud}) {
        if (Status set = m_rom.retune(baud); !set)
            return set.error();
        for (int sync = 0; sync < syncsPerBaudProbe; ++sync) {
            const Result<bool> answered = m_rom.trySync();
            if (!answered)
                return answered.error();
            if (answered.value())
                return baud;
        }
    }
    return 0;
}

Status ChipSession::changeBaud(int baud)
{
    const int oldBaud = m_rom.baud();
    if (baud == oldBaud)
        return {};
    const Result<quint32> cali = m_rom.readRegConfirmed(rom::rtcCaliRegister);
    if (!cali)
        return cali.error();
    const quint32 sent = correctedBaud(static_cast<quint32>(baud), cali.value(),
                                       m_efuses.field(efuse::ck8mFrequency));
    say(u"Switching to %1 baud..."_s.arg(baud));
    const FlasherError lost = failure(Failure::lostAfterBaudChange, {QString::number(baud)});
    for (int attempt = 0; attempt < baudChangeAttempts; ++attempt) {
        const Result<RomReply> changed = m_rom.command(command::changeBaudrate(sent));
        if (!changed && changed.error().kind == ErrorKind::linkLost)
            return changed.error();
        // Refused as it arrived: the chip stays at the old rate, so ask again.
        if (!changed && changed.error().kind == ErrorKind::romError)
            continue;
        if (changed) {
            if (Status set = m_rom.retune(baud); !set)
                return set;
            // One try: a chip that switched answers at once, and a lost one is searched for.
            const Result<RomReply> magic = m_rom.command(command::readReg(rom::chipMagicRegister));
            if (magic && magic.value().value == rom::chipMagicEsp32)
                return {};
            if (!magic && magic.error().kind == ErrorKind::linkLost)
                return magic.error();
        }
        // The reply or the chip went missing: find out which rate it answers at now.
        const Result<int> found = findChipBaud(baud, oldBaud);
        if (!found)
            return found.error();
        if (found.value() == baud) {
            say(u"The chip's reply to the baud change was lost; it answers at %1 baud."_s.arg(
                baud));
            return {};
        }
        if (found.value() != oldBaud)
            return lost;
    }
    return lost;
}

Status ChipSession::attachFlash()
{
    const quint32 pins = spiPinConfig(m_efuses);
    const Result<RomReply> attached =
        m_rom.repeatable(command::spiAttach(pins), u"attach the SPI flash"_s);
    if (!attached)
        return attached.error();
    if (pins == 0) {
        say(u"Attached the SPI flash on the default pins."_s);
    } else {
        say(u"Attached the SPI flash on the pins set in eFuse (word %1)."_s.arg(hex32(pins)));
    }
    return {};
}

Result<quint32> ChipSession::readJedecId()
{
    // Several register writes set the command up; it is run until two runs agree, or the last
    // run's ID stands.
    const auto run = [&]() -> Result<std::optional<quint32>> {
        Result<quint32> id = esptool::readJedecId(m_rom);
        if (!id)
            return id.error();
        return std::optional(id.value());
    };
    const Result<Agreement<quint32>> runs =
        askUntilTwoAgree<quint32>(jedecIdRuns, run, [](quint32) { return false; });
    if (!runs)
        return runs.error();
    return runs.value().agreed.value_or(runs.value().last.value_or(0));
}

Result<std::optional<quint32>> ChipSession::detectFlashSize()
{
    const Result<quint32> id = readJedecId();
    if (!id)
        return id.error();
    const quint32 jedec = id.value();
    if (flash::jedecIdLooksAbsent(jedec)) {
        m_observer.warning(
            u"The flash chip did not answer (ID %1); is the flash powered?"_s.arg(hex32(jedec)));
        return std::optional<quint32>();
    }
    const std::optional<quint32> size = flash::sizeFromJedecId(jedec);
    m_observer.info(u"Flash: manufacturer %1, device %2, size %3."_s.arg(
        QString::number(jedec & 0xFF, 16).rightJustified(2, u'0'),
        QString::number(((jedec >> 8) & 0xFF) << 8 | ((jedec >> 16) & 0xFF), 16)
            .rightJustified(4, u'0'),
        size ? flash::sizeName(*size) : u"unknown"_s));
    return size;
}

Status ChipSession::setFlashParameters(quint32 size)
{
    const Result<RomReply> set =
        m_rom.repeatable(command::spiSetParams(size), u"set the flash parameters"_s);
    if (!set)
        return set.error();
    m_flashParameters = size;
    return {};
}

Status ChipSession::reattachFlash()
{
    if (Status attached = attachFlash(); !attached)
        return attached;
    if (m_flashParameters)
        return setFlashParameters(*m_flashParameters);
    return {};
}

Result<bool> ChipSession::answersInSession()
{
    for (int check = 0; check < sessionChecks; ++check) {
        if (Status drained = m_rom.drain(); !drained)
            return drained.error();
        const Result<RomReply> magic =
            m_rom.command(command::readReg(rom::chipMagicRegister), sessionCheckTimeout);
        if (magic && magic.value().value == rom::chipMagicEsp32)
            return true;
        if (!magic && magic.error().kind == ErrorKind::linkLost)
            return magic.error();
        if (!magic && magic.error().kind == ErrorKind::chipRestarted)
            return false;
    }
    return false;
}

Result<ChipSession::Resync> ChipSession::listenForRestart()
{
    Resync found;
    found.banner = m_rom.restartBanner();
    m_rom.watchForRestarts(false);
    if (Status set = m_rom.retune(rom::initialBaud); !set)
        return set.error();
    m_rom.startListening();
    for (int sync = 0; sync < resyncSyncs && !found.synced; ++sync) {
        const Result<bool> answered = m_rom.trySync();
        if (!answered)
            return answered.error();
        found.synced = answered.value();
        if (!found.synced)
            m_link->pause(resyncPause);
    }
    if (std::optional<BootBanner> heard = lastBootBanner(m_rom.heard()))
        found.banner = heard;
    if (found.synced) {
        const Result<quint32> state = m_rom.readRegConfirmed(rom::resetStateRegister);
        if (!state)
            return state.error();
        found.resetCause = static_cast<quint8>(state.value() & rom::resetCauseMask);
    }
    return found;
}

Result<bool> ChipSession::syncAtSessionRate()
{
    if (Status set = m_rom.retune(m_sessionBaud); !set)
        return set.error();
    for (int sync = 0; sync < syncsPerBaudProbe; ++sync) {
        Result<bool> answered = m_rom.trySync();
        if (!answered || answered.value())
            return answered;
    }
    return false;
}

Status ChipSession::reconnect(const FlasherError& lost)
{
    // Closed at once: an adapter whose node is still held open may come back under another name.
    m_link.reset();
    Result<std::unique_ptr<SerialLink>> back =
        waitForPort(m_reopen, m_path, m_connectBaud, portReturnWait, portReturnPoll);
    if (!back)
        return lost;
    m_link = std::move(back).value();
    m_rom.setLink(*m_link, m_connectBaud);
    return openSession(Start::reset);
}

void ChipSession::finish(AfterReset after)
{
    if (after == AfterReset::noReset) {
        m_observer.info(u"Leaving the chip in its loader."_s);
        return;
    }
    if (m_hasModemLines) {
        m_observer.info(u"Resetting the chip to start its firmware..."_s);
        if (ResetSequence::hardReset().apply(*m_link) == ResetSequence::Outcome::done)
            return;
        noteMissingModemLines();
    }
    m_observer.info(u"Not resetting the chip: the port has no modem-control lines."_s);
}

void ChipSession::noteMissingModemLines()
{
    if (!m_hasModemLines)
        return;
    m_hasModemLines = false;
    m_observer.warning(u"%1 has no modem-control lines (DTR/RTS), so the chip cannot be reset "
                       "from here; continuing without reset pulses."_s.arg(m_path));
}

}  // namespace esptool
