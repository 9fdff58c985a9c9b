#pragma once

#include "flasher/ChipInfo.h"
#include "flasher/Options.h"
#include "flasher/Result.h"
#include "link/RomConnection.h"

#include <QList>

#include <optional>

namespace esptool {

class FlasherObserver;
class SerialLink;

// One session with an ESP32's ROM loader: connect, speed up, attach the flash, then write or
// erase, then let the chip go. Each step reports through the observer and fails as a value.
class Flasher
{
public:
    Flasher(SerialLink& link, FlasherObserver& observer);

    // Resets the chip into its loader (unless told not to), syncs, makes sure it is an ESP32
    // and tells which one.
    Status connect(BeforeReset before);
    // Moves the link to `baud` when that is faster than the rate used to connect.
    Status changeBaud(int baud);
    Status attachFlash();

    Status writeFlash(const QList<FlashRegion>& regions, const WriteSettings& settings);
    Status eraseFlash();

    void finish(AfterReset after);

private:
    // Reads the JEDEC ID; the size it announces, or nothing when unknown.
    Result<std::optional<quint32>> detectFlashSize();
    Result<quint32> chooseFlashSize(const FlashSizeChoice& choice);
    Status readChipDescription();
    Status checkFits(const QList<FlashRegion>& regions, quint32 flashSize) const;
    void noteMissingModemLines();

    SerialLink& m_link;
    FlasherObserver& m_observer;
    RomConnection m_rom;
    EfuseWords m_efuses;
    int m_baud = 0;
    bool m_hasModemLines = true;
};

}  // namespace esptool
