#pragma once

#include "failure/Result.h"
#include "flasher/ChipInfo.h"
#include "flasher/Options.h"
#include "link/RomConnection.h"
#include "link/SerialLink.h"
#include "protocol/BootBanner.h"

#include <memory>
#include <optional>

namespace esptool {

class FlasherObserver;

// One session with an ESP32's ROM loader on one port: the chip reset into its loader (unless
// told not to) and synced, known to be an ESP32, moved to the session's rate, its flash
// attached and described. openSession() is the one way a session starts, the first time as after
// the port went away or the chip restarted; the rate the session runs at is kept here alone.
class ChipSession
{
public:
    enum class Start
    {
        reset,   // reset the chip into its loader (as --before says) and sync
        synced,  // the chip has just answered SYNC at the ROM's 115200
    };

    // `link` is open at settings.connectBaud(); `reopen` opens the same port again after it
    // went away.
    ChipSession(std::unique_ptr<SerialLink> link, const SessionSettings& settings,
                LinkOpener reopen, FlasherObserver& observer);

    // Connects, identifies, switches to `baud` and attaches the flash; the first time with
    // every detail printed, later quietly, and then the chip must be the same board (MAC).
    Status openSession(Start start);

    // The rate the session runs at once open: the one asked for, unless a noisy line moved it.
    int sessionBaud() const { return m_sessionBaud; }
    void setSessionBaud(int baud) { m_sessionBaud = baud; }
    // Moves the line to `baud` now. A lost reply to the change is survived by finding the rate
    // the chip answers at.
    Status changeBaud(int baud);

    // The flash parameters (SPI_SET_PARAMS) for `size`, sent again whenever the session opens.
    Status setFlashParameters(quint32 size);
    // SPI_ATTACH and SPI_SET_PARAMS again: neither carries a checksum, so on a noisy line either
    // may have reached the chip damaged and left its flash unreachable or of another size.
    Status reattachFlash();
    // Reads the JEDEC ID; the size it announces, or nothing when unknown.
    Result<std::optional<quint32>> detectFlashSize();

    // Whether the chip still answers inside its session at the session's rate. A chip that
    // restarted ignores everything but SYNC; one that is alive answers a register read at once.
    Result<bool> answersInSession();

    // What listening at 115200 found after the chip fell silent.
    struct Resync
    {
        bool synced = false;  // it answered SYNC there: a fresh session waits to be opened
        std::optional<BootBanner> banner;
        std::optional<quint8> resetCause;  // read from the chip once synced
    };
    // Listens at the ROM's own 115200, where its banner is readable and its autobaud waits for
    // a SYNC, and tries to sync there.
    Result<Resync> listenForRestart();
    // Syncs at the session's rate, in case the chip was only silent for a while.
    Result<bool> syncAtSessionRate();

    // The link went away: waits for the port to return and opens the session again.
    Status reconnect(const FlasherError& lost);

    void finish(AfterReset after);

    RomConnection& rom() { return m_rom; }
    const EfuseWords& efuses() const { return m_efuses; }
    const QString& path() const { return m_path; }
    bool hasModemLines() const { return m_hasModemLines; }
    BeforeReset before() const { return m_before; }

private:
    Status connect();
    Status identify();
    // The rate, of the two, at which the chip answers SYNC; 0 when at neither.
    Result<int> findChipBaud(int newBaud, int oldBaud);
    Status attachFlash();
    Result<quint32> readJedecId();
    void say(const QString& line);
    void noteMissingModemLines();

    std::unique_ptr<SerialLink> m_link;
    LinkOpener m_reopen;
    FlasherObserver& m_observer;
    RomConnection m_rom;
    QString m_path;
    int m_connectBaud;
    int m_sessionBaud;
    BeforeReset m_before;
    EfuseWords m_efuses;
    QByteArray m_mac;  // of the board first connected to
    std::optional<quint32> m_flashParameters;
    bool m_hasModemLines = true;
    bool m_quiet = false;  // once the first session is open, only what changes is printed
};

}  // namespace esptool
