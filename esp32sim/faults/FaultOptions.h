#pragma once

#include "esp32sim/protocol/RomProtocol.h"

#include <QtGlobal>

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

}  // namespace esp32sim
