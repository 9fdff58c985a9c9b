#pragma once

#include "esp32sim/chip/FlashMemory.h"
#include "esp32sim/chip/FlashWriter.h"
#include "esp32sim/chip/RegisterMap.h"
#include "esp32sim/chip/SimulatorOptions.h"
#include "esp32sim/chip/SimulatorStatistics.h"
#include "esp32sim/chip/TimingModel.h"
#include "esp32sim/faults/LineNoise.h"
#include "esp32sim/protocol/RomProtocol.h"
#include "esp32sim/protocol/SlipDecoder.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QtGlobal>

#include <optional>

namespace esp32sim {

enum class LoaderState
{
    awaitingSync,        // power-on: everything but a SYNC is ignored
    synced,              // in a session: all commands are served
    applicationRunning,  // after FLASH_END / FLASH_DEFL_END / MEM_END: only a SYNC is heard
    failedBootLoop,      // restarted into a flash it cannot boot: prints, resets, never listens
};

// The ESP32 ROM loader as a pure state machine: bytes from the host go in, SLIP-encoded reply
// frames come out together with the modelled time each exchange takes. No I/O, no clock.
//
// The first SYNC after a reset starts a session; once synced, a SYNC is an ordinary command that
// changes nothing. The chip resets (115200 baud with autobaud, nothing attached, SPI and RAM
// registers back at power-on, flash kept) when a client opens the port, which stands for the
// client's reset through the modem lines a pseudo-terminal does not have, and when the link
// returns.
class RomLoader
{
public:
    struct OutgoingFrame
    {
        QByteArray bytes;   // SLIP-encoded, delimiters included
        Duration wireTime;  // at the baud rate in force when it is sent
    };

    // The loader's answer to one request.
    struct Answer
    {
        Duration requestWireTime{0};  // the request's own bytes on the wire
        Duration workTime{0};         // flash erase/program/hash and register delays
        QList<OutgoingFrame> frames;
    };

    struct FeedResult
    {
        QList<Answer> answers;  // all after the last restart, if any
        // The chip restarted (FaultOptions::restart): what it printed, as the host reads it. It
        // goes out before the answers; replies not yet sent before it are lost.
        bool restarted = false;
        QByteArray printed;
        bool hangUp = false;  // the link must be dropped now (FaultOptions::dropAfterBytes)
    };

    explicit RomLoader(const SimulatorOptions& options);

    // `lineBaud`: the rate the client sends at, if it can be read; frames are checked against it
    // only with SimulatorOptions::checkLineBaud.
    FeedResult feed(QByteArrayView bytes, std::optional<quint32> lineBaud = std::nullopt);

    // A client opened the port, resetting the chip as a flasher does when it connects.
    void clientOpened();
    // The RTC watchdog reset a chip in its boot loop (every rtcWatchdogPeriod): what the chip
    // prints again, as a host at `lineBaud` (if known) reads it. Empty outside that loop.
    QByteArray watchdogReset(std::optional<quint32> lineBaud);

    // The link came back after a drop: the chip went through a power cycle (flash kept), and
    // with FaultOptions::otherBoardReturns it is another board, with another MAC.
    void powerCycle();

    LoaderState state() const { return m_state; }
    quint32 baud() const { return m_baud; }

    const FlashMemory& flash() const { return m_flash; }
    FlashMemory& flash() { return m_flash; }
    const RegisterMap& registers() const { return m_registers; }
    const SimulatorStatistics& statistics() const { return m_statistics; }

private:
    struct Reply
    {
        quint32 value = 0;
        QByteArray data;  // before the status bytes
        std::optional<RomError> error;
        Duration work{0};
        FlashWork workKind = FlashWork::registerDelay;
    };

    // `deliver` false: the link is going down, so the frame takes effect but nothing is sent.
    std::optional<Answer> handleFrame(const QByteArray& frame, qint64 wireLength, bool oversized,
                                      bool deliver);
    // Whether the loader listens to this frame at all, in its state and at the line's rate.
    bool hears(const QByteArray& frame);
    // `copies`: how many times the reply goes out, raised for replies the ROM repeats.
    std::optional<Reply> handleSync(const QByteArray& frame, bool oversized, int& copies);
    std::optional<Reply> handleCommand(const QByteArray& frame, bool oversized, int& copies);
    std::optional<Reply> dispatch(quint8 opcode, QByteArrayView data, quint32 checksum,
                                  int& copies);
    // What changes once a reply is out: the new rate, leaving the loader, a line that flips.
    void settleAfterReply(quint8 opcode);

    // The byte through the SLIP decoder and, when it ends a frame, the frame through the loader;
    // `deliver` false keeps its answer. The rate the frame arrived at, if the byte ended one.
    std::optional<quint32> receive(char byte, bool deliver, FeedResult& result);
    bool restartDue() const;
    void restart(FeedResult& result);
    // Boot text at 115200 as the host reads it, counted as sent.
    QByteArray print(const QByteArray& text);
    // Whether the line flips bits (FaultOptions::flipRate) at this rate.
    bool flipsAt(quint32 baud) const;

    // Back to power-on: awaiting SYNC at 115200, nothing attached, no download under way.
    void resetSession();
    // The first SYNC after a reset: the UART locks to the rate it arrived at.
    void startSession();
    // A frame sent at another rate than the chip's, as far as --check-baud compares them.
    bool sentAtOtherRate() const;
    Reply handleReadReg(QByteArrayView data);
    Reply handleWriteReg(QByteArrayView data);
    Reply handleSpiAttach(QByteArrayView data);
    Reply handleSpiSetParams(QByteArrayView data);
    std::optional<Reply> handleChangeBaudrate(QByteArrayView data);
    Reply handleFlashBegin(FlashWriter::Mode mode, QByteArrayView data);
    Reply handleFlashData(FlashWriter::Mode mode, QByteArrayView data, quint32 checksum);
    Reply applyFlashData(FlashWriter::Mode mode, QByteArrayView data, quint32 checksum);
    Reply handleFlashEnd(FlashWriter::Mode mode, QByteArrayView data);
    Reply handleMd5(QByteArrayView data);
    Reply handleReadFlashSlow(QByteArrayView data);
    Reply handleMemBegin(QByteArrayView data);
    Reply handleMemData(QByteArrayView data, quint32 checksum);
    std::optional<Reply> handleMemEnd(QByteArrayView data);

    quint32 flashLimit() const;
    // Attached to the pins the flash chip is wired to (the eFuse pads, or the default ones).
    bool flashConnected() const;
    OutgoingFrame encodeReply(quint8 opcode, const Reply& reply);

    SimulatorOptions m_options;
    SlipDecoder m_decoder;
    FlashMemory m_flash;
    RegisterMap m_registers;
    FlashWriter m_writer;
    SimulatorStatistics m_statistics;

    LoaderState m_state = LoaderState::awaitingSync;
    quint32 m_baud = initialBaud;
    quint32 m_requestBaud = initialBaud;  // rate the frame being handled arrived at
    std::optional<quint32> m_lineBaud;    // the client's rate during the current feed(), if known
    std::optional<quint32> m_attachConfig;
    std::optional<quint32> m_declaredFlashSize;  // SPI_SET_PARAMS's total size
    std::optional<quint32> m_pendingBaud;
    bool m_leaveLoaderAfterReply = false;
    bool m_memActive = false;
    quint32 m_memNextSequence = 0;
    quint32 m_memBlockCount = 0;
    quint32 m_memBlockSize = 0;

    qint64 m_framesSent = 0;
    int m_writeErrorsInjected = 0;
    bool m_hungUp = false;
    bool m_dropped = false;  // the drop fault happens once
    LineNoise m_noise;
    bool m_noiseArmed = false;  // from the first SYNC answered
    bool m_baudFaultDone = false;
    qint64 m_dataRequests = 0;  // FLASH_DATA and FLASH_DEFL_DATA, for the garbled status
    int m_restartsLeft = 0;
    qint64 m_nextRestartAt = 0;              // in bytes received
    quint32 m_bannerHostBaud = initialBaud;  // the host's rate when the chip last restarted
};

}  // namespace esp32sim
