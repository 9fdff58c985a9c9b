#pragma once

#include "esp32sim/chip/TimingModel.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>

#include <optional>

namespace esp32sim {

// The SPI NOR flash array. Like real NOR flash, erasing sets bytes to 0xFF and programming can
// only clear bits (new = old & data), so writing over unerased data reads back wrong.
class FlashMemory
{
public:
    // `fill` empty: a deterministic pseudo-random pattern (see patternByte).
    FlashMemory(quint32 size, std::optional<quint8> fill);

    quint32 size() const { return quint32(m_bytes.size()); }
    const QByteArray& contents() const { return m_bytes; }
    bool contains(quint32 address, quint32 length) const;

    // Erases the 4 KiB sectors covering [address, address + length); `address` must be
    // sector-aligned and the range inside the array. Aligned 64 KiB stretches go as block
    // erases. Returns the modelled time.
    Duration erase(quint32 address, quint32 length);

    struct ProgramResult
    {
        bool verified = false;  // read-back equals `data`
        Duration time{0};
    };
    // Programs `data` at `address` page by page; the range must be inside the array.
    ProgramResult program(quint32 address, QByteArrayView data);

    // Puts `bytes` at `address` as they are, as a board flashed before holds them; false when
    // they do not fit.
    bool load(quint32 address, QByteArrayView bytes);

    QByteArray read(quint32 address, quint32 length) const;
    // MD5 of the range as 32 lowercase hex characters.
    QByteArray md5Hex(quint32 address, quint32 length) const;

    // The byte that the default pattern puts at `address`.
    static quint8 patternByte(quint32 address);

private:
    QByteArray m_bytes;
};

}  // namespace esp32sim
