#pragma once

#include "flasher/ChipInfo.h"
#include "flasher/LineHealth.h"
#include "flasher/Options.h"
#include "flasher/Result.h"
#include "link/RomConnection.h"
#include "link/SerialLink.h"

#include <QList>

#include <memory>
#include <optional>

namespace esptool {

class FlasherObserver;

// One session with an ESP32's ROM loader: connect, speed up, attach the flash, then write or
// erase, then let the chip go. Each step reports through the observer and fails as a value.
// A link that goes away while the flash is written or erased is waited for and connected
// again, as long as the same board comes back.
class Flasher
{
public:
    // `link` is open at `connectBaud`, the rate to connect at; `reopen` opens the same port
    // again after it went away.
    Flasher(std::unique_ptr<SerialLink> link, int connectBaud, LinkOpener reopen,
            FlasherObserver& observer);

    // Resets the chip into its loader (unless told not to), syncs, makes sure it is an ESP32
    // and tells which one. A chip that never answers is diagnosed by what the port carried.
    Status connect(BeforeReset before);
    // Moves the link to `baud` when that is faster than the rate used to connect. A lost reply
    // to the change is survived by finding the rate the chip answers at.
    Status changeBaud(int baud);
    Status attachFlash();

    Status writeFlash(const QList<FlashRegion>& regions, const WriteSettings& settings);
    Status eraseFlash();

    void finish(AfterReset after);

private:
    Status identify();
    // Sets the port to `baud` and forgets what arrived while both ends retuned.
    Status retune(int baud);
    // The rate, of the two, at which the chip answers SYNC; 0 when at neither.
    Result<int> findChipBaud(int newBaud, int oldBaud);
    Result<quint32> readJedecId();
    // Reads the JEDEC ID; the size it announces, or nothing when unknown.
    Result<std::optional<quint32>> detectFlashSize();
    Result<quint32> chooseFlashSize(const FlashSizeChoice& choice);
    Status setFlashParameters(quint32 size);
    Status checkFits(const QList<FlashRegion>& regions, quint32 flashSize) const;
    // The link went away: wait for the port, connect again as at the start (a chip that reset
    // is back in its power-on state) and make sure the same board answers.
    Status reconnect(const FlasherError& lost, const QString& resuming);
    void say(const QString& line);
    void noteMissingModemLines();

    std::unique_ptr<SerialLink> m_link;
    LinkOpener m_reopen;
    FlasherObserver& m_observer;
    RomConnection m_rom;
    LineHealth m_health;
    QString m_path;
    int m_connectBaud;
    int m_baud;
    int m_targetBaud = 0;
    BeforeReset m_before = BeforeReset::defaultReset;
    EfuseWords m_efuses;
    QByteArray m_mac;  // of the board first connected to
    std::optional<quint32> m_flashParameters;
    bool m_hasModemLines = true;
    bool m_quiet = false;  // while reconnecting, only the one line that says so is printed
    int m_reconnects = 0;
};

}  // namespace esptool
