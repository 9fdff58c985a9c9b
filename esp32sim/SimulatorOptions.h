#pragma once

#include "RomProtocol.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <array>
#include <chrono>
#include <optional>

namespace esp32sim {

// The chip restarting by itself during a session: a supply that sags, or a watchdog.
struct RestartFault
{
    // What the chip does after the restart: GPIO0 still low, or released by the reset circuit.
    enum class Into
    {
        loader,    // waits for SYNC again, as at power-on
        firmware,  // boots the flash, fails on what a cut-short write left, and loops for good
    };

    // Restart once this many bytes have been received, then after as many again each time.
    qint64 afterBytes = 0;
    int times = 1;
    ResetCause cause = ResetCause::powerOn;
    Into into = Into::loader;
};

// Faults the simulated chip can be told to commit, so that clients' failure paths can be tested.
struct FaultOptions
{
    // Never answer SYNC (a board that is not in download mode, or a wrong cable).
    bool noSync = false;
    // Hang up (close the pty master) once this many bytes have been received. Nothing is sent
    // after the byte that reaches the limit, not even the answer to a frame it completes.
    std::optional<qint64> dropAfterBytes;
    // Corrupt the N-th reply frame sent (1-based, every frame counts, each SYNC reply too):
    // its size field claims one byte more than the frame carries.
    std::optional<qint64> corruptReply;
    // Answer FLASH_DATA / FLASH_DEFL_DATA with this sequence number with status failure and
    // FlashWriteFailed (0x08). The block is not written, so a retry may send it again.
    std::optional<quint32> writeErrorBlock;
    // How many times the block above fails; empty means every time.
    std::optional<int> writeErrorTimes;

    // Bits flipped on the line, in both directions, once the first SYNC has been answered: the
    // chance per byte that one of its bits arrives flipped (a long or thin cable at high baud).
    double flipRate = 0;
    // Seeds the flips, so that a run can be repeated exactly.
    quint64 seed = 1;
    // Data blocks are applied whatever their sequence number, after the previous one: a block
    // sent again is applied again instead of being refused.
    bool applyRepeats = false;
    // The board started its firmware from flash: it never answers SYNC, and each time a client
    // opens the port (boards reset when the port opens) it prints the ROM's boot banner.
    bool bootFromFlash = false;

    // What goes wrong with the first CHANGE_BAUDRATE; afterwards SYNC is heard only at the
    // chip's current rate, so a client has to find that rate.
    enum class BaudChange
    {
        normal,
        replyLost,    // the chip switches, but its reply never arrives
        requestLost,  // the request never arrives: no reply, no switch
    };
    BaudChange baudChange = BaudChange::normal;

    // After the drop (dropAfterBytes) the link comes back this much later, with a new pty behind
    // the same stable path (SimulatorOptions::linkPath) and the chip in its power-on state.
    std::optional<std::chrono::milliseconds> returnAfter;
    // The returned port is held (flock) this long, as udev or another service would.
    std::optional<std::chrono::milliseconds> busyAfterReturn;
    // Another board comes back on the returned port (another MAC).
    bool otherBoardReturns = false;

    std::optional<RestartFault> restart;
    // flipRate applies only while the session's rate is above this (a cable bad only when fast).
    std::optional<quint32> flipAboveBaud;
    // The reply to the K-th data block of the run (FLASH_DATA or FLASH_DEFL_DATA, 1-based, every
    // well-formed one counted) says failure, error 0x00, although the block was applied: a success
    // whose status byte flipped on the way back. A reply that is a failure anyway stays as it is.
    std::optional<qint64> garbleStatusBlock;
};

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
    // A stable path (a symlink to the pty's slave) to serve the port under, as a udev rule
    // would; empty means the slave path itself.
    QString linkPath;

    FaultOptions faults;

    quint32 effectiveJedecId() const;
};

}  // namespace esp32sim
