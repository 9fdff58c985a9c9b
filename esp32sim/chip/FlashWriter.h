#pragma once

#include "esp32sim/chip/FlashMemory.h"
#include "esp32sim/chip/Inflater.h"
#include "esp32sim/chip/TimingModel.h"
#include "esp32sim/protocol/RomProtocol.h"

#include <QByteArrayView>
#include <QtGlobal>

#include <optional>

namespace esp32sim {

// One FLASH_BEGIN .. FLASH_END (or FLASH_DEFL_*) session: erase up front, then blocks in
// sequence, each written (inflated first for the compressed variant) and read back before
// it is acknowledged.
class FlashWriter
{
public:
    enum class Mode
    {
        plain,
        deflate,
    };

    struct Begin
    {
        quint32 size = 0;  // erase size (plain) or uncompressed write size (deflate)
        quint32 blockCount = 0;
        quint32 blockSize = 0;
        quint32 offset = 0;
    };

    struct Outcome
    {
        std::optional<RomError> error;
        Duration time{0};
    };

    // `applyRepeats`: blocks are applied whatever their sequence number, after the previous
    // one, instead of a wrong number being refused.
    FlashWriter(FlashMemory& flash, bool applyRepeats);

    // `limit`: the flash size the loader was told (SPI_SET_PARAMS) or the physical size.
    Outcome begin(Mode mode, const Begin& request, quint32 limit);
    Outcome data(Mode mode, quint32 sequence, QByteArrayView block);
    Outcome end(Mode mode);

    bool isActive(Mode mode) const { return m_active && m_mode == mode; }
    quint32 expectedSequence() const { return m_nextSequence; }
    void reset();

private:
    Outcome write(quint32 address, QByteArrayView bytes);

    FlashMemory& m_flash;
    bool m_applyRepeats;
    bool m_active = false;
    Mode m_mode = Mode::plain;
    Begin m_begin;
    quint32 m_limit = 0;
    quint32 m_nextSequence = 0;
    quint32 m_written = 0;  // so far in this session (inflated bytes for deflate)
    Inflater m_inflater;
};

}  // namespace esp32sim
