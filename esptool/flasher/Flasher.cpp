#include "flasher/Flasher.h"

#include "flasher/BootDiagnosis.h"
#include "flasher/FlashParameters.h"
#include "flasher/FlasherObserver.h"
#include "flasher/PortReturn.h"
#include "flasher/RegionWriter.h"
#include "flasher/SpiFlash.h"
#include "link/ResetSequence.h"
#include "protocol/RomProtocol.h"

#include <QElapsedTimer>

using namespace Qt::StringLiterals;

namespace esptool {

namespace {

// Assumed when the flash ID names no size we know.
constexpr quint32 fallbackFlashSize = 4 * 1024 * 1024;
// A CHANGE_BAUDRATE the chip refused, or whose reply was lost, is tried this often.
constexpr int baudChangeAttempts = 3;
constexpr int syncsPerBaudProbe = 3;
// How long a port that went away may take to come back, and how often to look.
constexpr std::chrono::seconds portReturnWait{10};
constexpr std::chrono::milliseconds portReturnPoll{100};
constexpr int reconnectsPerRun = 3;

QString hex32(quint32 value)
{
    return u"0x%1"_s.arg(value, 8, 16, QLatin1Char('0'));
}

}  // namespace

Flasher::Flasher(std::unique_ptr<SerialLink> link, int connectBaud, LinkOpener reopen,
                 FlasherObserver& observer)
    : m_link(std::move(link))
    , m_reopen(std::move(reopen))
    , m_observer(observer)
    , m_rom(*m_link)
    , m_health(connectBaud)
    , m_path(m_link->portName())
    , m_connectBaud(connectBaud)
    , m_baud(connectBaud)
{}

void Flasher::say(const QString& line)
{
    if (!m_quiet)
        m_observer.info(line);
}

Status Flasher::connect(BeforeReset before)
{
    m_before = before;
    m_baud = m_connectBaud;
    say(u"Connecting to the ESP32 ROM loader on %1..."_s.arg(m_path));
    m_rom.startListening();
    const QList<ResetSequence> resets = ResetSequence::enterLoaderSequences();
    bool synced = false;
    for (int attempt = 0; attempt < rom::connectAttempts && !synced; ++attempt) {
        if (before == BeforeReset::defaultReset && m_hasModemLines &&
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

Status Flasher::identify()
{
    const Result<quint32> magic = m_rom.readRegConfirmed(rom::chipMagicRegister);
    if (!magic)
        return magic.error();
    if (magic.value() != rom::chipMagicEsp32) {
        return FlasherError{ErrorKind::wrongChip,
                            u"The chip on %1 is not an ESP32 (chip magic %2, expected %3)."_s.arg(
                                m_path, hex32(magic.value()), hex32(rom::chipMagicEsp32)),
                            u"This tool flashes the original ESP32 only; check the board."_s};
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
        return FlasherError{ErrorKind::otherBoard,
                            u"Another board answered on %1 after the link came back (MAC %2, "
                            "expected %3); stopped without writing to it."_s.arg(
                                m_path, chip.macText(), QString::fromLatin1(m_mac.toHex(':'))),
                            u"Connect the board that was being flashed and start again."_s};
    }
    m_mac = chip.mac;
    const Result<quint32> clockDiv = m_rom.readReg(rom::uartClockDivRegister);
    if (!clockDiv)
        return clockDiv.error();
    say(u"Connected to %1 (revision %2)."_s.arg(chip.package, chip.revisionText()));
    say(u"Features: %1"_s.arg(chip.features.join(u", "_s)));
    say(u"Crystal: %1 MHz"_s.arg(crystalMhz(clockDiv.value(), m_baud)));
    say(u"MAC: %1"_s.arg(chip.macText()));
    if (chip.flashEncryptionOn) {
        m_observer.warning(u"Flash encryption is on; data written in plain text will not "
                           "run."_s);
    }
    return {};
}

Status Flasher::retune(int baud)
{
    if (Status set = m_link->setBaudRate(baud); !set)
        return set;
    // Whatever arrives while both ends retune is noise.
    m_link->pause(rom::timeout::afterBaudChange);
    m_link->discardInput();
    m_rom.resetReceiver();
    return {};
}

Result<int> Flasher::findChipBaud(int newBaud, int oldBaud)
{
    for (const int baud : {newBaud, oldBaud}) {
        if (Status set = retune(baud); !set)
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

Status Flasher::changeBaud(int baud)
{
    m_targetBaud = baud;
    if (baud <= m_baud)
        return {};
    const int oldBaud = m_baud;
    const Result<quint32> cali = m_rom.readRegConfirmed(rom::rtcCaliRegister);
    if (!cali)
        return cali.error();
    const quint32 sent = correctedBaud(static_cast<quint32>(baud), cali.value(),
                                       m_efuses.field(efuse::ck8mFrequency));
    say(u"Switching to %1 baud..."_s.arg(baud));
    const auto switched = [&]() -> Status {
        m_baud = baud;
        m_health.setBaud(baud);
        return {};
    };
    const FlasherError lost{ErrorKind::lostAfterBaudChange,
                            u"The chip stopped answering after the switch to %1 baud."_s.arg(baud),
                            u"Try a lower baud rate, such as 460800 or 115200."_s};
    for (int attempt = 0; attempt < baudChangeAttempts; ++attempt) {
        const Result<RomReply> changed =
            m_rom.command(command::changeBaudrate(sent), rom::timeout::standard);
        if (!changed && changed.error().kind == ErrorKind::linkLost)
            return changed.error();
        // Refused as it arrived: the chip stays at the old rate, so ask again.
        if (!changed && changed.error().kind == ErrorKind::romError)
            continue;
        if (changed) {
            if (Status set = retune(baud); !set)
                return set;
            // One try: a chip that switched answers at once, and a lost one is searched for.
            const Result<RomReply> magic =
                m_rom.command(command::readReg(rom::chipMagicRegister), rom::timeout::standard);
            if (magic && magic.value().value == rom::chipMagicEsp32)
                return switched();
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
            return switched();
        }
        if (found.value() != oldBaud)
            return lost;
    }
    return lost;
}

Status Flasher::attachFlash()
{
    const quint32 pins = spiPinConfig(m_efuses);
    const Result<RomReply> attached = m_rom.repeatable(
        command::spiAttach(pins), rom::timeout::standard, u"attach the SPI flash"_s);
    if (!attached)
        return attached.error();
    if (pins == 0) {
        say(u"Attached the SPI flash on the default pins."_s);
    } else {
        say(u"Attached the SPI flash on the pins set in eFuse (word %1)."_s.arg(hex32(pins)));
    }
    return {};
}

Result<quint32> Flasher::readJedecId()
{
    // Several register writes set the command up; read it until two runs agree.
    Result<quint32> previous = esptool::readJedecId(m_rom);
    for (int run = 1; previous && run < syncsPerBaudProbe; ++run) {
        Result<quint32> next = esptool::readJedecId(m_rom);
        if (!next || next.value() == previous.value())
            return next;
        previous = next;
    }
    return previous;
}

Result<std::optional<quint32>> Flasher::detectFlashSize()
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
    say(u"Flash: manufacturer %1, device %2, size %3."_s.arg(
        QString::number(jedec & 0xFF, 16).rightJustified(2, u'0'),
        QString::number(((jedec >> 8) & 0xFF) << 8 | ((jedec >> 16) & 0xFF), 16)
            .rightJustified(4, u'0'),
        size ? flash::sizeName(*size) : u"unknown"_s));
    return size;
}

Result<quint32> Flasher::chooseFlashSize(const FlashSizeChoice& choice)
{
    const Result<std::optional<quint32>> detected = detectFlashSize();
    if (!detected)
        return detected.error();
    quint32 size = fallbackFlashSize;
    bool setParameters = true;
    if (choice.kind == FlashSizeChoice::Kind::fixed) {
        size = choice.bytes;
    } else if (detected.value()) {
        size = *detected.value();
    } else {
        m_observer.warning(u"Could not tell the flash size; assuming %1."_s.arg(
            flash::sizeName(fallbackFlashSize)));
        // Keeping means trusting the chip's own idea of its flash over a guess.
        setParameters = choice.kind != FlashSizeChoice::Kind::keep;
    }
    if (setParameters) {
        if (Status set = setFlashParameters(size); !set)
            return set.error();
    }
    return size;
}

Status Flasher::setFlashParameters(quint32 size)
{
    const Result<RomReply> set = m_rom.repeatable(
        command::spiSetParams(size), rom::timeout::standard, u"set the flash parameters"_s);
    if (!set)
        return set.error();
    m_flashParameters = size;
    return {};
}

Status Flasher::checkFits(const QList<FlashRegion>& regions, quint32 flashSize) const
{
    for (const FlashRegion& region : regions) {
        const quint64 end =
            static_cast<quint64>(region.address) + static_cast<quint64>(region.data.size());
        if (end > flashSize) {
            return FlasherError{ErrorKind::fileTooLarge,
                                u"%1 (%2 bytes at %3) does not fit in the %4 flash."_s.arg(
                                    region.name, QString::number(region.data.size()),
                                    hex32(region.address), flash::sizeName(flashSize)),
                                u"Use an image made for this board's flash size."_s};
        }
    }
    return {};
}

Status Flasher::writeFlash(const QList<FlashRegion>& regions, const WriteSettings& settings)
{
    const Result<quint32> flashSize = chooseFlashSize(settings.size);
    if (!flashSize)
        return flashSize.error();
    if (Status fits = checkFits(regions, flashSize.value()); !fits)
        return fits;

    flash::HeaderPatch patch{settings.mode, settings.frequency, std::nullopt};
    if (settings.size.kind != FlashSizeChoice::Kind::keep)
        patch.sizeBytes = flashSize.value();
    RegionWriter writer(
        m_rom, m_observer, m_health,
        [this](const FlasherError& lost, const QString& resuming) {
            return reconnect(lost, resuming);
        },
        m_baud);
    for (FlashRegion region : regions) {
        const flash::PatchOutcome patched =
            flash::patchImageHeader(region.data, region.address, patch);
        if (patched.kind == flash::PatchOutcome::Kind::notAnImage) {
            m_observer.warning(
                u"%1 at %2 does not look like an ESP32 image; its flash "
                "settings are left alone."_s.arg(region.name, hex32(region.address)));
        } else if (patched.kind == flash::PatchOutcome::Kind::patched) {
            say(u"Flash settings in the image header set to 0x%1%2."_s.arg(
                QString::number(patched.parameters, 16).rightJustified(4, u'0'),
                patched.digestUpdated ? u" (image digest updated)"_s : QString()));
        }
        if (Status written = writer.write(region, settings.compress); !written)
            return written;
    }
    return {};
}

Status Flasher::eraseFlash()
{
    const Result<quint32> flashSize =
        chooseFlashSize(FlashSizeChoice{FlashSizeChoice::Kind::detect, 0});
    if (!flashSize)
        return flashSize.error();
    RegionWriter writer(
        m_rom, m_observer, m_health,
        [this](const FlasherError& lost, const QString& resuming) {
            return reconnect(lost, resuming);
        },
        m_baud);
    return writer.eraseAll(flashSize.value());
}

Status Flasher::reconnect(const FlasherError& lost, const QString& resuming)
{
    if (m_reconnects >= reconnectsPerRun)
        return lost;
    ++m_reconnects;
    // Closed at once: an adapter whose node is still held open may come back under another name.
    m_link.reset();
    QElapsedTimer away;
    away.start();
    Result<std::unique_ptr<SerialLink>> back =
        waitForPort(m_reopen, m_path, m_connectBaud, portReturnWait, portReturnPoll);
    if (!back)
        return lost;
    m_link = std::move(back).value();
    m_rom.setLink(*m_link);
    m_quiet = true;
    const auto again = [&]() -> Status {
        if (Status step = connect(m_before); !step)
            return step;
        if (Status step = changeBaud(m_targetBaud); !step)
            return step;
        if (Status step = attachFlash(); !step)
            return step;
        if (m_flashParameters)
            return setFlashParameters(*m_flashParameters);
        return {};
    };
    Status connected = again();
    m_quiet = false;
    if (!connected)
        return connected;
    m_observer.info(
        u"The link to the board on %1 dropped and came back after %2 s; connected "
        "again, %3."_s.arg(
            m_path, QString::number(static_cast<double>(away.elapsed()) / 1000, 'f', 1), resuming));
    return {};
}

void Flasher::finish(AfterReset after)
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

void Flasher::noteMissingModemLines()
{
    if (!m_hasModemLines)
        return;
    m_hasModemLines = false;
    m_observer.warning(u"%1 has no modem-control lines (DTR/RTS), so the chip cannot be reset "
                       "from here; continuing without reset pulses."_s.arg(m_path));
}

}  // namespace esptool
