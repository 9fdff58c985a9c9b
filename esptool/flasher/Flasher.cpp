#include "flasher/Flasher.h"

#include "flasher/FlashParameters.h"
#include "flasher/FlasherObserver.h"
#include "flasher/RegionWriter.h"
#include "flasher/SpiFlash.h"
#include "link/ResetSequence.h"
#include "link/SerialLink.h"
#include "protocol/RomProtocol.h"

using namespace Qt::StringLiterals;

namespace esptool {

namespace {

// Boards differ in how long GPIO0 must stay low after EN rises; alternate a short and a long hold.
constexpr std::chrono::milliseconds shortStrapHold{50};
constexpr std::chrono::milliseconds longStrapHold{550};
// Assumed when the flash ID names no size we know.
constexpr quint32 fallbackFlashSize = 4 * 1024 * 1024;

QString hex32(quint32 value)
{
    return u"0x%1"_s.arg(value, 8, 16, QLatin1Char('0'));
}

}  // namespace

Flasher::Flasher(SerialLink& link, FlasherObserver& observer)
    : m_link(link)
    , m_observer(observer)
    , m_rom(link)
{}

Status Flasher::connect(BeforeReset before)
{
    m_baud = rom::initialBaud;
    m_observer.info(u"Connecting to the ESP32 ROM loader on %1..."_s.arg(m_link.portName()));
    bool synced = false;
    for (int attempt = 0; attempt < rom::connectAttempts && !synced; ++attempt) {
        if (before == BeforeReset::defaultReset && m_hasModemLines) {
            const auto hold = attempt % 2 == 0 ? shortStrapHold : longStrapHold;
            if (ResetSequence::enterLoader(hold).apply(m_link) ==
                ResetSequence::Outcome::noModemLines) {
                noteMissingModemLines();
            }
        }
        for (int sync = 0; sync < rom::syncsPerAttempt && !synced; ++sync) {
            const Result<bool> answered = m_rom.trySync();
            if (!answered)
                return answered.error();
            synced = answered.value();
            if (!synced)
                m_link.pause(rom::timeout::syncRetryPause);
        }
    }
    if (!synced) {
        return FlasherError{ErrorKind::noAnswer,
                            u"No answer from the chip on %1."_s.arg(m_link.portName()),
                            u"Hold the BOOT button while resetting the board, check the USB "
                            "cable, or try a lower baud rate."_s};
    }

    const Result<quint32> magic = m_rom.readReg(rom::chipMagicRegister);
    if (!magic)
        return magic.error();
    if (magic.value() != rom::chipMagicEsp32) {
        return FlasherError{
            ErrorKind::wrongChip,
            u"The chip on %1 is not an ESP32 (chip magic %2, expected %3)."_s.arg(
                m_link.portName(), hex32(magic.value()), hex32(rom::chipMagicEsp32)),
            u"This tool flashes the original ESP32 only; check the board."_s};
    }
    return readChipDescription();
}

Status Flasher::readChipDescription()
{
    for (int word = 0; word < EfuseWords::count; ++word) {
        const Result<quint32> value = m_rom.readReg(rom::efuseWordAddress(word));
        if (!value)
            return value.error();
        m_efuses.words[static_cast<std::size_t>(word)] = value.value();
    }
    const Result<quint32> date = m_rom.readReg(rom::apbCtlDateRegister);
    if (!date)
        return date.error();
    m_efuses.apbCtlDate = date.value();
    const Result<quint32> clockDiv = m_rom.readReg(rom::uartClockDivRegister);
    if (!clockDiv)
        return clockDiv.error();

    const ChipDescription chip = describeChip(m_efuses);
    m_observer.info(u"Connected to %1 (revision %2)."_s.arg(chip.package, chip.revisionText()));
    m_observer.info(u"Features: %1"_s.arg(chip.features.join(u", "_s)));
    m_observer.info(u"Crystal: %1 MHz"_s.arg(crystalMhz(clockDiv.value(), m_baud)));
    m_observer.info(u"MAC: %1"_s.arg(chip.macText()));
    if (chip.flashEncryptionOn) {
        m_observer.warning(u"Flash encryption is on; data written in plain text will not "
                           "run."_s);
    }
    return {};
}

Status Flasher::changeBaud(int baud)
{
    if (baud <= m_baud)
        return {};
    const Result<quint32> cali = m_rom.readReg(rom::rtcCaliRegister);
    if (!cali)
        return cali.error();
    const quint32 sent = correctedBaud(static_cast<quint32>(baud), cali.value(),
                                       m_efuses.field(efuse::ck8mFrequency));
    m_observer.info(u"Switching to %1 baud..."_s.arg(baud));
    const Result<RomReply> changed =
        m_rom.command(command::changeBaudrate(sent), rom::timeout::standard);
    if (!changed)
        return changed.error();
    if (Status set = m_link.setBaudRate(baud); !set)
        return set;
    m_baud = baud;
    // Whatever arrives while both ends retune is noise.
    m_link.pause(rom::timeout::afterBaudChange);
    m_link.discardInput();
    m_rom.resetReceiver();

    const Result<quint32> magic = m_rom.readReg(rom::chipMagicRegister);
    if (magic && magic.value() == rom::chipMagicEsp32)
        return {};
    if (!magic && magic.error().kind == ErrorKind::linkLost)
        return magic.error();
    return FlasherError{ErrorKind::lostAfterBaudChange,
                        u"The chip stopped answering after the switch to %1 baud."_s.arg(baud),
                        u"Try a lower baud rate, such as 460800 or 115200."_s};
}

Status Flasher::attachFlash()
{
    const quint32 pins = spiPinConfig(m_efuses);
    const Result<RomReply> attached =
        m_rom.command(command::spiAttach(pins), rom::timeout::standard, u"attach the SPI flash"_s);
    if (!attached)
        return attached.error();
    if (pins == 0) {
        m_observer.info(u"Attached the SPI flash on the default pins."_s);
    } else {
        m_observer.info(
            u"Attached the SPI flash on the pins set in eFuse (word %1)."_s.arg(hex32(pins)));
    }
    return {};
}

Result<std::optional<quint32>> Flasher::detectFlashSize()
{
    const Result<quint32> id = readJedecId(m_rom);
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
        const Result<RomReply> set = m_rom.command(
            command::spiSetParams(size), rom::timeout::standard, u"set the flash parameters"_s);
        if (!set)
            return set.error();
    }
    return size;
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
    RegionWriter writer(m_rom, m_observer);
    for (FlashRegion region : regions) {
        const flash::PatchOutcome patched =
            flash::patchImageHeader(region.data, region.address, patch);
        if (patched.kind == flash::PatchOutcome::Kind::notAnImage) {
            m_observer.warning(
                u"%1 at %2 does not look like an ESP32 image; its flash "
                "settings are left alone."_s.arg(region.name, hex32(region.address)));
        } else if (patched.kind == flash::PatchOutcome::Kind::patched) {
            m_observer.info(u"Flash settings in the image header set to 0x%1%2."_s.arg(
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
    RegionWriter writer(m_rom, m_observer);
    return writer.eraseAll(flashSize.value());
}

void Flasher::finish(AfterReset after)
{
    if (after == AfterReset::noReset) {
        m_observer.info(u"Leaving the chip in its loader."_s);
        return;
    }
    if (m_hasModemLines) {
        m_observer.info(u"Resetting the chip to start its firmware..."_s);
        if (ResetSequence::hardReset().apply(m_link) == ResetSequence::Outcome::done)
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
                       "from here; continuing without reset pulses."_s.arg(m_link.portName()));
}

}  // namespace esptool
