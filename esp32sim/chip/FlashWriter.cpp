#include "esp32sim/chip/FlashWriter.h"

namespace esp32sim {

FlashWriter::FlashWriter(FlashMemory& flash, bool applyRepeats)
    : m_flash(flash)
    , m_applyRepeats(applyRepeats)
{}

void FlashWriter::reset()
{
    m_active = false;
    m_begin = {};
    m_nextSequence = 0;
    m_written = 0;
    m_inflater.reset();
}

FlashWriter::Outcome FlashWriter::begin(Mode mode, const Begin& request, quint32 limit)
{
    reset();
    const bool badBlockSize =
        request.blockSize > romFlashBlockSize || (request.blockCount > 0 && request.blockSize == 0);
    const bool outside = quint64(request.offset) + request.size > limit ||
                         !m_flash.contains(request.offset, request.size);
    if (badBlockSize || request.offset % flashSectorSize != 0 || outside)
        return {RomError::invalidParameter, {}};

    m_active = true;
    m_mode = mode;
    m_begin = request;
    m_limit = limit;
    return {std::nullopt, m_flash.erase(request.offset, request.size)};
}

FlashWriter::Outcome FlashWriter::data(Mode mode, quint32 requested, QByteArrayView block)
{
    const quint32 sequence = m_nextSequence;
    if (!isActive(mode) || (requested != sequence && !m_applyRepeats) ||
        sequence >= m_begin.blockCount)
        return {RomError::invalidParameter, {}};

    if (mode == Mode::plain) {
        // Every block has the announced size; the client pads the last one with 0xFF.
        if (quint32(block.size()) != m_begin.blockSize)
            return {RomError::invalidMessage, {}};
        Outcome outcome = write(m_begin.offset + sequence * m_begin.blockSize, block);
        if (!outcome.error)
            ++m_nextSequence;
        return outcome;
    }

    // Compressed blocks are cut from one stream: full size except the last, which is not padded.
    const bool last = sequence + 1 == m_begin.blockCount;
    const auto length = quint32(block.size());
    if (length == 0 || length > m_begin.blockSize || (!last && length != m_begin.blockSize))
        return {RomError::invalidMessage, {}};
    Inflater::Result inflated = m_inflater.push(block);
    if (inflated.error)
        return {inflated.error, {}};
    if (quint64(m_written) + quint64(inflated.output.size()) > m_begin.size)
        return {RomError::inflateFailed, {}};  // more data than FLASH_DEFL_BEGIN announced
    Outcome outcome = write(m_begin.offset + m_written, inflated.output);
    if (!outcome.error)
        ++m_nextSequence;
    return outcome;
}

FlashWriter::Outcome FlashWriter::write(quint32 address, QByteArrayView bytes)
{
    if (quint64(address) + quint64(bytes.size()) > m_limit ||
        !m_flash.contains(address, quint32(bytes.size())))
        return {RomError::invalidParameter, {}};
    const FlashMemory::ProgramResult programmed = m_flash.program(address, bytes);
    m_written = address + quint32(bytes.size()) - m_begin.offset;
    // The ROM reads every block back; bits that were not erased make it differ.
    if (!programmed.verified)
        return {RomError::flashWriteFailed, programmed.time};
    return {std::nullopt, programmed.time};
}

FlashWriter::Outcome FlashWriter::end(Mode mode)
{
    if (!isActive(mode))
        return {RomError::invalidParameter, {}};
    m_active = false;
    return {};
}

}  // namespace esp32sim
