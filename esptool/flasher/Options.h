#pragma once

#include "flasher/FlashParameters.h"

#include <QByteArray>
#include <QString>

// What a run was asked to do, shared by the command-line parser and the flasher.
namespace esptool {

enum class BeforeReset
{
    defaultReset,  // pulse DTR/RTS so the chip starts its serial loader
    noReset,       // the chip is already in its loader
};

enum class AfterReset
{
    hardReset,  // pulse EN so the chip starts the new firmware
    noReset,
};

// How the run talks to the chip, and how far it may go: the global options of the command line.
struct SessionSettings
{
    int baud = 115200;  // the rate asked for
    BeforeReset before = BeforeReset::defaultReset;
    // A line that proves too noisy moves to a lower rate instead of failing.
    bool baudFallback = true;
    // Write or erase even where the eFuses say the board would no longer boot.
    bool force = false;

    // The ROM listens at 115200 after a reset; a slower rate asked for is used from the start.
    int connectBaud() const { return baud < 115200 ? baud : 115200; }
};

struct FlashSizeChoice
{
    enum class Kind
    {
        detect,  // read the flash ID; 4MB when it names no known size
        keep,    // read the flash ID; leave the image header alone
        fixed,
    };
    Kind kind = Kind::keep;
    quint32 bytes = 0;  // for Fixed

    friend bool operator==(const FlashSizeChoice&, const FlashSizeChoice&) = default;
};

struct WriteSettings
{
    bool compress = false;
    // Ask the chip for the MD5 of what it holds before writing, and skip what matches.
    bool skip = true;
    flash::Mode mode = flash::Mode::keep;
    flash::Frequency frequency = flash::Frequency::keep;
    FlashSizeChoice size;

    friend bool operator==(const WriteSettings&, const WriteSettings&) = default;
};

// One file's content and where it goes.
struct FlashRegion
{
    quint32 address = 0;
    QByteArray data;
    QString name;
};

}  // namespace esptool
