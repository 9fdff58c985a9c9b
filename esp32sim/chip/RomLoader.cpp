#include "esp32sim/chip/RomLoader.h"

#include "esp32sim/faults/BootBanner.h"
#include "esp32sim/faults/UartSampling.h"

#include <QtEndian>

namespace esp32sim {

namespace {

constexpr qsizetype wordSize = 4;
constexpr qsizetype flashBeginLength = 4 * wordSize;
constexpr qsizetype flashBeginWithEncryptionLength = 5 * wordSize;
constexpr qsizetype flashEndLength = wordSize;
constexpr qsizetype readRegLength = wordSize;
constexpr qsizetype writeRegGroupLength = 4 * wordSize;
constexpr qsizetype spiAttachLength = 2 * wordSize;
constexpr qsizetype spiSetParamsLength = 6 * wordSize;
constexpr qsizetype changeBaudrateLength = 2 * wordSize;
constexpr qsizetype md5Length = 4 * wordSize;
constexpr qsizetype readFlashSlowRequestLength = 2 * wordSize;
constexpr qsizetype memBeginLength = 4 * wordSize;
constexpr qsizetype memEndLength = 2 * wordSize;

constexpr quint8 syncPreamble[] = {0x07, 0x07, 0x12, 0x20};
constexpr quint8 syncFill = 0x55;

quint32 word(QByteArrayView data, qsizetype index)
{
    return qFromLittleEndian<quint32>(data.data() + index * wordSize);
}

void appendWord(QByteArray& out, quint32 value)
{
    char bytes[wordSize];
    qToLittleEndian(value, bytes);
    out.append(bytes, wordSize);
}

quint32 dataChecksum(QByteArrayView bytes)
{
    quint8 sum = checksumSeed;
    for (const char c : bytes)
        sum ^= quint8(c);
    return sum;
}

bool isSyncPayload(QByteArrayView data)
{
    if (data.size() != syncPayloadLength)
        return false;
    for (qsizetype i = 0; i < data.size(); ++i) {
        const quint8 expected = i < qsizetype(sizeof syncPreamble) ? syncPreamble[i] : syncFill;
        if (quint8(data[i]) != expected)
            return false;
    }
    return true;
}

// The data after the header, when the header's size field agrees with it.
std::optional<QByteArrayView> payload(const QByteArray& frame, bool oversized)
{
    if (oversized || frame.size() < packetHeaderLength)
        return std::nullopt;
    const QByteArrayView data = QByteArrayView(frame).sliced(packetHeaderLength);
    if (qFromLittleEndian<quint16>(frame.constData() + 2) != quint16(data.size()))
        return std::nullopt;
    return data;
}

bool isPowerOfTwo(quint32 v)
{
    return v != 0 && (v & (v - 1)) == 0;
}

}  // namespace

RomLoader::RomLoader(const SimulatorOptions& options)
    : m_options(options)
    , m_decoder(maxFrameLength)
    , m_flash(options.flashSize, options.fill)
    , m_registers(options)
    , m_writer(m_flash, options.faults.applyRepeats)
    , m_noise(options.faults.flipRate, options.faults.seed)
{
    m_statistics.finalBaud = m_baud;
    m_registers.spi().setFlashConnected(false);
    for (const FlashPreset& preset : options.flashPresets)
        m_flash.load(preset.address, preset.bytes);
    if (const std::optional<RestartFault>& restart = options.faults.restart) {
        m_nextRestartAt = restart->afterBytes;
        m_restartsLeft = restart->times;
    }
}

RomLoader::FeedResult RomLoader::feed(QByteArrayView bytes, std::optional<quint32> lineBaud)
{
    FeedResult result;
    m_lineBaud = lineBaud;
    qint64 unaccounted = 0;
    auto accountReceived = [&](quint32 baud) {
        m_statistics.wireReceived += wireTime(unaccounted, baud);
        unaccounted = 0;
    };

    for (const char sent : bytes) {
        if (m_hungUp)
            break;
        ++m_statistics.bytesReceived;
        ++unaccounted;
        const bool limitReached = !m_dropped && m_options.faults.dropAfterBytes &&
                                  m_statistics.bytesReceived >= *m_options.faults.dropAfterBytes;
        const bool restartNow = !limitReached && restartDue();
        // A chip stuck in its boot loop has no loader listening.
        if (m_state != LoaderState::failedBootLoop) {
            const char byte = flipsAt(m_baud) ? m_noise.pass(sent) : sent;
            if (const auto frameBaud = receive(byte, !limitReached && !restartNow, result))
                accountReceived(*frameBaud);
        }

        if (limitReached) {
            m_hungUp = true;
            m_dropped = true;
            result.hangUp = true;
        } else if (restartNow) {
            accountReceived(m_baud);
            restart(result);
        }
    }
    accountReceived(m_baud);
    m_statistics.finalBaud = m_baud;
    m_statistics.bitsFlipped = m_noise.flips();
    return result;
}

std::optional<quint32> RomLoader::receive(char byte, bool deliver, FeedResult& result)
{
    const SlipDecoder::Event event = m_decoder.push(byte);
    if (event == SlipDecoder::Event::badEscape)
        ++m_statistics.framingErrors;
    if (event != SlipDecoder::Event::frame && event != SlipDecoder::Event::oversized)
        return std::nullopt;
    m_requestBaud = m_baud;
    const bool oversized = event == SlipDecoder::Event::oversized;
    if (std::optional<Answer> answer =
            handleFrame(m_decoder.payload(), m_decoder.wireLength(), oversized, deliver))
        result.answers.append(*answer);
    return m_requestBaud;
}

bool RomLoader::restartDue() const
{
    return m_restartsLeft > 0 && m_state != LoaderState::failedBootLoop &&
           m_statistics.bytesReceived >= m_nextRestartAt;
}

void RomLoader::restart(FeedResult& result)
{
    if (!m_options.faults.restart)
        return;
    const RestartFault& fault = *m_options.faults.restart;
    --m_restartsLeft;
    m_nextRestartAt += fault.afterBytes;
    ++m_statistics.restarts;
    // The host is still at the session's rate unless its own setting says otherwise.
    m_bannerHostBaud = m_lineBaud.value_or(m_baud);
    // Replies the UART had not sent yet die with the chip, and so does a frame half received.
    result.answers.clear();
    m_decoder.reset();
    resetSession();
    m_registers.setResetCause(fault.cause);
    result.restarted = true;
    if (fault.into == RestartFault::Into::loader) {
        result.printed += print(downloadModeBanner(fault.cause));
        return;
    }
    m_state = LoaderState::failedBootLoop;
    result.printed += print(failedFlashBootBanner(fault.cause));
}

QByteArray RomLoader::watchdogReset(std::optional<quint32> lineBaud)
{
    if (m_state != LoaderState::failedBootLoop)
        return {};
    m_lineBaud = lineBaud;
    m_registers.setResetCause(ResetCause::rtcWatchdog);
    return print(failedFlashBootBanner(ResetCause::rtcWatchdog));
}

QByteArray RomLoader::print(const QByteArray& text)
{
    // The ROM prints at 115200 whatever rate the session had: a host at another rate reads
    // garbage.
    QByteArray heard = sampledAtRate(text, initialBaud, m_lineBaud.value_or(m_bannerHostBaud));
    if (flipsAt(initialBaud))
        m_noise.pass(heard);
    m_statistics.bytesSent += heard.size();
    m_statistics.wireSent += wireTime(heard.size(), initialBaud);
    m_statistics.bitsFlipped = m_noise.flips();
    return heard;
}

bool RomLoader::flipsAt(quint32 baud) const
{
    const std::optional<quint32> above = m_options.faults.flipAboveBaud;
    return m_noiseArmed && (!above || baud > *above);
}

void RomLoader::powerCycle()
{
    m_hungUp = false;
    // A chip that cannot boot its flash fails the same way after any reset.
    if (m_state != LoaderState::failedBootLoop) {
        m_decoder.reset();
        resetSession();
        m_registers.setResetCause(ResetCause::powerOn);
    }
    if (m_options.faults.otherBoardReturns) {
        // Another MAC: the low bytes differ from board to board.
        constexpr int macLowWord = 1;
        constexpr quint32 otherBoardBits = 0x00FF00FF;
        m_registers.setEfuseWord(macLowWord, m_registers.efuseWord(macLowWord) ^ otherBoardBits);
    }
}

void RomLoader::clientOpened()
{
    // Opening a real adapter asserts DTR and RTS together, which the usual two-transistor reset
    // circuit ignores: a flasher's own reset sequence follows. Here the open stands for it, but
    // nothing reaches a chip in its boot loop, whose reset pulse would need those lines.
    if (m_state == LoaderState::failedBootLoop)
        return;
    m_decoder.reset();
    resetSession();
    m_registers.setResetCause(ResetCause::powerOn);
}

std::optional<RomLoader::Answer> RomLoader::handleFrame(const QByteArray& frame, qint64 wireLength,
                                                        bool oversized, bool deliver)
{
    if (!hears(frame))
        return std::nullopt;
    const auto opcode = quint8(frame[1]);
    int copies = 1;
    const std::optional<Reply> reply = opcode == quint8(Opcode::sync)
                                           ? handleSync(frame, oversized, copies)
                                           : handleCommand(frame, oversized, copies);
    if (!reply)
        return std::nullopt;

    // A SYNC that started a session arrived at the session's rate, which may be new.
    Answer answer{wireTime(wireLength, m_baud), reply->work, {}};
    m_statistics.addWork(reply->workKind, reply->work);
    // The reply to CHANGE_BAUDRATE still goes out at the old rate, so encode first.
    for (int i = 0; deliver && i < copies; ++i)
        answer.frames.append(encodeReply(opcode, *reply));
    settleAfterReply(opcode);
    if (!deliver)
        return std::nullopt;
    return answer;
}

bool RomLoader::hears(const QByteArray& frame)
{
    // Frames the host did not send as requests, or too short to name a command, are noise.
    if (frame.size() < 2 || quint8(frame[0]) != directionRequest)
        return false;
    // Until a SYNC has locked the UART (and again once the application runs) the loader hears
    // nothing but SYNC.
    if (m_state != LoaderState::synced)
        return quint8(frame[1]) == quint8(Opcode::sync);
    if (sentAtOtherRate()) {
        ++m_statistics.baudMismatches;
        return false;
    }
    return true;
}

std::optional<RomLoader::Reply> RomLoader::handleSync(const QByteArray& frame, bool oversized,
                                                      int& copies)
{
    // A damaged SYNC never locks the baud rate: no answer at all.
    const FaultOptions& faults = m_options.faults;
    const std::optional<QByteArrayView> data = payload(frame, oversized);
    if (!data || !isSyncPayload(*data) || faults.noSync || faults.bootFromFlash)
        return std::nullopt;
    ++m_statistics.commands[quint8(Opcode::sync)];
    // Once synced, a SYNC is an ordinary command: answered, and nothing changes.
    if (m_state != LoaderState::synced)
        startSession();
    m_requestBaud = m_baud;
    copies = syncReplyCount;
    return Reply{syncReplyValue, {}, std::nullopt, {}};
}

std::optional<RomLoader::Reply> RomLoader::handleCommand(const QByteArray& frame, bool oversized,
                                                         int& copies)
{
    const std::optional<QByteArrayView> data = payload(frame, oversized);
    if (!data)
        return Reply{0, {}, RomError::invalidMessage, {}};
    const auto opcode = quint8(frame[1]);
    ++m_statistics.commands[opcode];
    const auto checksum = qFromLittleEndian<quint32>(frame.constData() + 4);
    return dispatch(opcode, *data, checksum, copies);
}

void RomLoader::settleAfterReply(quint8 opcode)
{
    // FaultOptions::flipRate flips bits from the first SYNC answered on.
    if (opcode == quint8(Opcode::sync))
        m_noiseArmed = !m_noise.isQuiet();
    if (m_pendingBaud) {
        m_baud = *m_pendingBaud;
        m_pendingBaud.reset();
    }
    if (m_leaveLoaderAfterReply) {
        m_state = LoaderState::applicationRunning;
        m_leaveLoaderAfterReply = false;
    }
}

std::optional<RomLoader::Reply> RomLoader::dispatch(quint8 opcode, QByteArrayView data,
                                                    quint32 checksum, int& copies)
{
    using Mode = FlashWriter::Mode;
    switch (Opcode(opcode)) {
    case Opcode::readReg:
        return handleReadReg(data);
    case Opcode::writeReg:
        return handleWriteReg(data);
    case Opcode::spiAttach:
        return handleSpiAttach(data);
    case Opcode::spiSetParams:
        return handleSpiSetParams(data);
    case Opcode::changeBaudrate:
        return handleChangeBaudrate(data);
    case Opcode::flashBegin:
        return handleFlashBegin(Mode::plain, data);
    case Opcode::flashData:
        return handleFlashData(Mode::plain, data, checksum);
    case Opcode::flashEnd:
        return handleFlashEnd(Mode::plain, data);
    case Opcode::flashDeflBegin:
        return handleFlashBegin(Mode::deflate, data);
    case Opcode::flashDeflData:
        return handleFlashData(Mode::deflate, data, checksum);
    case Opcode::flashDeflEnd:
        return handleFlashEnd(Mode::deflate, data);
    case Opcode::spiFlashMd5:
        return handleMd5(data);
    case Opcode::readFlashSlow:
        return handleReadFlashSlow(data);
    case Opcode::memBegin:
        return handleMemBegin(data);
    case Opcode::memData:
        return handleMemData(data, checksum);
    case Opcode::memEnd:
        return handleMemEnd(data);
    case Opcode::sync:  // handled before dispatch, never reaches here
    case Opcode::getSecurityInfo:
    case Opcode::eraseFlash:
    case Opcode::eraseRegion:
    case Opcode::readFlash:
    case Opcode::runUserCode:
        break;  // not in the ESP32 ROM
    }
    copies = std::max(1, m_options.unsupportedRepeats);
    return Reply{0, {}, RomError::invalidMessage, {}};
}

void RomLoader::resetSession()
{
    m_state = LoaderState::awaitingSync;
    m_baud = initialBaud;
    m_pendingBaud.reset();
    m_leaveLoaderAfterReply = false;
    m_registers.resetSession();
    m_registers.spi().setFlashConnected(false);
    m_attachConfig.reset();
    m_declaredFlashSize.reset();
    m_writer.reset();
    m_memActive = false;
    m_memNextSequence = 0;
    m_memBlockCount = 0;
    m_memBlockSize = 0;
}

void RomLoader::startSession()
{
    resetSession();
    m_state = LoaderState::synced;
    // The ROM's autobaud: the session runs at the rate the SYNC arrived at.
    if (m_options.checkLineBaud && m_lineBaud && *m_lineBaud != 0) {
        m_baud = *m_lineBaud;
        m_registers.setUartBaud(m_baud);
    }
    ++m_statistics.sessions;
}

bool RomLoader::sentAtOtherRate() const
{
    return m_options.checkLineBaud && m_lineBaud && *m_lineBaud != m_baud;
}

RomLoader::Reply RomLoader::handleReadReg(QByteArrayView data)
{
    if (data.size() != readRegLength)
        return {0, {}, RomError::invalidMessage, {}};
    return {m_registers.read(word(data, 0)), {}, std::nullopt, {}};
}

RomLoader::Reply RomLoader::handleWriteReg(QByteArrayView data)
{
    if (data.isEmpty() || data.size() % writeRegGroupLength != 0)
        return {0, {}, RomError::invalidMessage, {}};
    Reply reply;
    for (qsizetype group = 0; group < data.size() / writeRegGroupLength; ++group) {
        const qsizetype at = group * 4;
        m_registers.write(word(data, at), word(data, at + 1), word(data, at + 2));
        reply.work += std::chrono::microseconds(word(data, at + 3));
    }
    return reply;
}

RomLoader::Reply RomLoader::handleSpiAttach(QByteArrayView data)
{
    if (data.size() != spiAttachLength)
        return {0, {}, RomError::invalidMessage, {}};
    if (word(data, 1) != 0)
        return {0, {}, RomError::invalidParameter, {}};
    const quint32 config = word(data, 0);
    m_attachConfig = config;
    m_statistics.lastSpiAttach = config;
    // The ROM attaches whatever pins it is told; only the right ones reach the flash chip.
    m_registers.spi().setFlashConnected(config == m_registers.expectedAttachConfig());
    return {};
}

RomLoader::Reply RomLoader::handleSpiSetParams(QByteArrayView data)
{
    if (data.size() != spiSetParamsLength)
        return {0, {}, RomError::invalidMessage, {}};
    // The words: flash ID, total size, block, sector and page size, status mask.
    const quint32 totalSize = word(data, 1);
    const bool valid = isPowerOfTwo(totalSize) && word(data, 2) == flashBlockSize &&
                       word(data, 3) == flashSectorSize && word(data, 4) == flashPageSize;
    if (!m_attachConfig || !valid)
        return {0, {}, RomError::invalidParameter, {}};
    m_declaredFlashSize = totalSize;
    m_statistics.lastSpiFlashSize = totalSize;
    return {};
}

std::optional<RomLoader::Reply> RomLoader::handleChangeBaudrate(QByteArrayView data)
{
    if (data.size() != changeBaudrateLength)
        return Reply{0, {}, RomError::invalidMessage, {}};
    const quint32 requested = word(data, 0);
    if (requested == 0)
        return Reply{0, {}, RomError::invalidParameter, {}};
    using BaudChange = FaultOptions::BaudChange;
    const BaudChange fault = m_baudFaultDone ? BaudChange::normal : m_options.faults.baudChange;
    if (fault != BaudChange::normal) {
        m_baudFaultDone = true;
        if (fault == BaudChange::requestLost)
            return std::nullopt;
    }
    m_statistics.lastBaudRequest = requested;
    m_registers.setUartBaud(requested);
    if (fault == BaudChange::replyLost) {
        m_baud = m_registers.baudAfterChange(requested);
        return std::nullopt;
    }
    m_pendingBaud = m_registers.baudAfterChange(requested);
    return Reply{};
}

quint32 RomLoader::flashLimit() const
{
    const quint32 physical = m_flash.size();
    if (m_declaredFlashSize)
        return std::min(physical, *m_declaredFlashSize);
    return physical;
}

bool RomLoader::flashConnected() const
{
    return m_attachConfig && *m_attachConfig == m_registers.expectedAttachConfig();
}

RomLoader::Reply RomLoader::handleFlashBegin(FlashWriter::Mode mode, QByteArrayView data)
{
    if (data.size() != flashBeginLength && data.size() != flashBeginWithEncryptionLength)
        return {0, {}, RomError::invalidMessage, {}};
    if (!m_attachConfig)
        return {0, {}, RomError::invalidParameter, {}};
    if (!flashConnected())
        return {0, {}, RomError::flashWriteFailed, {}};
    const FlashWriter::Begin request{word(data, 0), word(data, 1), word(data, 2), word(data, 3)};
    const FlashWriter::Outcome outcome = m_writer.begin(mode, request, flashLimit());
    const Duration time = m_options.eraseKibPerSecond && !outcome.error
                              ? rateTime(request.size, *m_options.eraseKibPerSecond)
                              : outcome.time;
    return {0, {}, outcome.error, time, FlashWork::erase};
}

RomLoader::Reply RomLoader::handleFlashData(FlashWriter::Mode mode, QByteArrayView data,
                                            quint32 checksum)
{
    ++m_dataRequests;
    Reply reply = applyFlashData(mode, data, checksum);
    if (!reply.error && m_options.faults.garbleStatusBlock == m_dataRequests)
        reply.error = RomError::undefined;
    return reply;
}

RomLoader::Reply RomLoader::applyFlashData(FlashWriter::Mode mode, QByteArrayView data,
                                           quint32 checksum)
{
    if (data.size() < dataCommandHeaderLength)
        return {0, {}, RomError::invalidMessage, {}};
    const quint32 length = word(data, 0);
    const quint32 sequence = word(data, 1);
    const QByteArrayView block = data.sliced(dataCommandHeaderLength);
    if (length != quint32(block.size()) || word(data, 2) != 0 || word(data, 3) != 0)
        return {0, {}, RomError::invalidMessage, {}};
    if (checksum != dataChecksum(block))
        return {0, {}, RomError::badChecksum, {}};
    if (!m_attachConfig)
        return {0, {}, RomError::invalidParameter, {}};

    const FaultOptions& faults = m_options.faults;
    const bool injectFault =
        faults.writeErrorBlock && *faults.writeErrorBlock == sequence && m_writer.isActive(mode) &&
        m_writer.expectedSequence() == sequence &&
        (!faults.writeErrorTimes || m_writeErrorsInjected < *faults.writeErrorTimes);
    if (injectFault) {
        ++m_writeErrorsInjected;
        return {0, {}, RomError::flashWriteFailed, {}};
    }
    if (!flashConnected())
        return {0, {}, RomError::flashWriteFailed, {}};
    const FlashWriter::Outcome outcome = m_writer.data(mode, sequence, block);
    return {0, {}, outcome.error, outcome.time, FlashWork::program};
}

RomLoader::Reply RomLoader::handleFlashEnd(FlashWriter::Mode mode, QByteArrayView data)
{
    if (data.size() != flashEndLength)
        return {0, {}, RomError::invalidMessage, {}};
    const FlashWriter::Outcome outcome = m_writer.end(mode);
    if (outcome.error)
        return {0, {}, outcome.error, {}};
    // Both "reboot" (0) and "run user code" (1) leave the loader once the reply is out.
    m_leaveLoaderAfterReply = true;
    return {};
}

RomLoader::Reply RomLoader::handleMd5(QByteArrayView data)
{
    if (data.size() != md5Length || word(data, 2) != 0 || word(data, 3) != 0)
        return {0, {}, RomError::invalidMessage, {}};
    if (!m_attachConfig)
        return {0, {}, RomError::invalidParameter, {}};
    const quint32 address = word(data, 0);
    const quint32 size = word(data, 1);
    if (quint64(address) + size > flashLimit())
        return {0, {}, RomError::invalidParameter, {}};
    if (!flashConnected())
        return {0, {}, RomError::flashReadFailed, {}};
    return {0, m_flash.md5Hex(address, size), std::nullopt,
            md5Time(size, m_options.md5KibPerSecond), FlashWork::md5};
}

RomLoader::Reply RomLoader::handleReadFlashSlow(QByteArrayView data)
{
    if (data.size() != readFlashSlowRequestLength)
        return {0, {}, RomError::invalidMessage, {}};
    if (!m_attachConfig)
        return {0, {}, RomError::invalidParameter, {}};
    const quint32 address = word(data, 0);
    const quint32 length = word(data, 1);
    if (length > readFlashSlowLength)
        return {0, {}, RomError::flashReadLength, {}};
    if (quint64(address) + length > flashLimit())
        return {0, {}, RomError::invalidParameter, {}};
    if (!flashConnected())
        return {0, {}, RomError::flashReadFailed, {}};
    QByteArray bytes = m_flash.read(address, length);
    bytes.append(qsizetype(readFlashSlowLength) - bytes.size(), '\0');
    return {0, bytes, std::nullopt, {}};
}

RomLoader::Reply RomLoader::handleMemBegin(QByteArrayView data)
{
    if (data.size() != memBeginLength)
        return {0, {}, RomError::invalidMessage, {}};
    const quint32 blockCount = word(data, 1);
    const quint32 blockSize = word(data, 2);
    if (blockSize > romMemBlockLimit || (blockCount > 0 && blockSize == 0))
        return {0, {}, RomError::ramSize, {}};
    m_memActive = true;
    m_memNextSequence = 0;
    m_memBlockCount = blockCount;
    m_memBlockSize = blockSize;
    return {};
}

RomLoader::Reply RomLoader::handleMemData(QByteArrayView data, quint32 checksum)
{
    if (data.size() < dataCommandHeaderLength)
        return {0, {}, RomError::invalidMessage, {}};
    const quint32 length = word(data, 0);
    const quint32 sequence = word(data, 1);
    const QByteArrayView block = data.sliced(dataCommandHeaderLength);
    if (length != quint32(block.size()) || word(data, 2) != 0 || word(data, 3) != 0 ||
        length > m_memBlockSize)
        return {0, {}, RomError::invalidMessage, {}};
    if (checksum != dataChecksum(block))
        return {0, {}, RomError::badChecksum, {}};
    if (!m_memActive || sequence != m_memNextSequence || sequence >= m_memBlockCount)
        return {0, {}, RomError::invalidParameter, {}};
    ++m_memNextSequence;
    return {};
}

std::optional<RomLoader::Reply> RomLoader::handleMemEnd(QByteArrayView data)
{
    if (data.size() != memEndLength)
        return Reply{0, {}, RomError::invalidMessage, {}};
    if (!m_memActive)
        return Reply{0, {}, RomError::invalidParameter, {}};
    m_memActive = false;
    // Flag 0 jumps to the uploaded code at once: the loader is gone and says nothing more.
    if (word(data, 0) == 0) {
        m_state = LoaderState::applicationRunning;
        return std::nullopt;
    }
    return Reply{};
}

RomLoader::OutgoingFrame RomLoader::encodeReply(quint8 opcode, const Reply& reply)
{
    QByteArray packet;
    packet.reserve(packetHeaderLength + reply.data.size() + romStatusLength);
    const auto size = quint16(reply.data.size() + romStatusLength);
    ++m_framesSent;
    const bool corrupt =
        m_options.faults.corruptReply && *m_options.faults.corruptReply == m_framesSent;
    packet.append(char(directionResponse)).append(char(opcode));
    char sizeBytes[2];
    qToLittleEndian(quint16(corrupt ? size + 1 : size), sizeBytes);
    packet.append(sizeBytes, 2);
    appendWord(packet, reply.value);
    packet.append(reply.data);
    packet.append(char(reply.error ? 1 : 0)).append(char(reply.error ? quint8(*reply.error) : 0));
    packet.append(2, '\0');

    OutgoingFrame frame{slipEncode(packet), {}};
    if (flipsAt(m_baud))
        m_noise.pass(frame.bytes);
    frame.wireTime = wireTime(frame.bytes.size(), m_baud);
    m_statistics.bytesSent += frame.bytes.size();
    m_statistics.wireSent += frame.wireTime;
    if (reply.error)
        ++m_statistics.errorReplies;
    return frame;
}

}  // namespace esp32sim
