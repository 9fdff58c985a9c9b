#pragma once

#include "esp32sim/faults/FaultOptions.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <array>
#include <optional>

namespace esp32sim {

// The eFuses that say a board must not simply be given a plain image. They go over the words
// of SimulatorOptions::efuseWords; the ROM loader writes plain data whatever they say.
struct SecurityEfuses
{
    enum class SecureBoot
    {
        off,
        v1,  // ABS_DONE_0, word 6 bit 4
        v2,  // ABS_DONE_1, word 6 bit 5
    };

    // FLASH_CRYPT_CNT, word 0 bits 26:20: flash encryption is on with an odd number of bits set.
    std::optional<quint8> flashCryptCount;
    SecureBoot secureBoot = SecureBoot::off;
    // DISABLE_DL_ENCRYPT, word 6 bit 7.
    bool downloadEncryptionDisabled = false;
};

// Bytes the flash holds from the start, as a board that was flashed before.
struct FlashPreset
{
    quint32 address = 0;
    QByteArray bytes;
};

inline constexpr int efuseWordCount = 7;

struct SimulatorOptions
{
    static constexpr quint32 defaultFlashSize = 4 * 1024 * 1024;
    static constexpr quint32 defaultChipMagic = 0x00F01D83;  // the original ESP32

    // Physical flash size in bytes, a power of two.
    quint32 flashSize = defaultFlashSize;
    // JEDEC ID returned by RDID (manufacturer in bits 7:0, type 15:8, capacity 23:16). Empty
    // means 0xEF (Winbond), type 0x40, capacity log2(flashSize).
    std::optional<quint32> jedecId;
    // Value of the magic register 0x40001000 that clients use to tell chips apart.
    quint32 chipMagic = defaultChipMagic;
    // Initial content of every flash byte. Empty means a deterministic pseudo-random pattern,
    // so that an erase or a write is visible in a dump.
    std::optional<quint8> fill;
    // Laid over the fill in this order, each inside the flash.
    QList<FlashPreset> flashPresets;
    // How fast SPI_FLASH_MD5 reads and hashes flash, in KiB/s; empty means 250 ns a byte.
    std::optional<quint32> md5KibPerSecond;
    // How fast a BEGIN erases, in KiB/s, for a flash slower than the typical part; empty means
    // the sector and block times of the typical part.
    std::optional<quint32> eraseKibPerSecond;
    // Replace eFuse words 0-6 (0x3FF5A000 + 4n); empty entries keep the defaults, which
    // describe an ESP32-D0WD-V3 revision v3.1 with MAC 24:0a:c4:12:34:56 and default SPI pads.
    std::array<std::optional<quint32>, efuseWordCount> efuseWords;
    SecurityEfuses security;
    // How many copies of the error frame answer an unknown or unsupported command. Captures of
    // real chips show about 8; one copy is the default.
    int unsupportedRepeats = 1;
    // Delay every reply until the modelled wire and flash time has passed (see README.md).
    // Only the driver (Esp32Simulator) waits; the protocol core always computes the figures.
    bool timing = false;
    // Compare the rate the client set on its end of the pty with the chip's. A frame sent at
    // another rate is noise to a UART and goes unanswered, except a SYNC, which the ROM's
    // autobaud locks onto: the new session then runs at the client's rate instead of 115200.
    bool checkLineBaud = false;
    // A stable path (a symlink to the pty's client side) to serve the port under, as a udev rule
    // would; empty means the pty's own path.
    QString linkPath;

    FaultOptions faults;

    quint32 effectiveJedecId() const;
};

}  // namespace esp32sim
