#pragma once

#include "flasher/Options.h"
#include "flasher/Result.h"

namespace esptool {

class FlasherObserver;
class RomConnection;

// Erases, writes and verifies flash regions through the ROM's own commands.
class RegionWriter
{
public:
    RegionWriter(RomConnection& rom, FlasherObserver& observer);

    // Writes the region (padded to whole words) and checks it with the chip's MD5 of the flash.
    Status write(const FlashRegion& region, bool compress);
    // Erases [0, size) in one FLASH_BEGIN and checks that it reads back as 0xFF.
    Status eraseAll(quint32 size);

private:
    Status writeCompressed(quint32 address, const QByteArray& data);
    Status writeUncompressed(quint32 address, const QByteArray& data);
    // Compares the chip's MD5 of [address, address + data.size()) with the data's.
    Status verify(quint32 address, const QByteArray& data);

    RomConnection& m_rom;
    FlasherObserver& m_observer;
};

}  // namespace esptool
