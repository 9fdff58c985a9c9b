#include "flasher/BootDiagnosis.h"

#include "protocol/BootBanner.h"

using namespace Qt::StringLiterals;

namespace esptool {

namespace {

const QString resetHint =
    u"Hold the BOOT button while resetting the board (press and release EN/RESET), then "
    "release BOOT and try again."_s;

}  // namespace

FlasherError noAnswerDiagnosis(const QString& port, const QByteArray& heard, qint64 bytesHeard)
{
    if (const std::optional<BootBanner> banner = lastBootBanner(heard)) {
        const QString& mode = banner->bootText;
        if (banner->bootsFromFlash()) {
            return FlasherError{ErrorKind::bootedFirmware,
                                u"The board on %1 started its own firmware instead of the serial "
                                "loader (it printed \"%2\")."_s.arg(port, mode),
                                u"Put it into download mode: hold BOOT (IO0), press and release "
                                "EN (RESET), release BOOT, and try again."_s};
        }
        return FlasherError{ErrorKind::noAnswer,
                            u"No answer from the chip on %1: it is waiting for a download "
                            "(\"%2\") but never replied."_s.arg(port, mode),
                            u"The board's receive or transmit line may be broken; try another "
                            "cable or adapter."_s};
    }
    if (bytesHeard == 0) {
        return FlasherError{ErrorKind::noAnswer,
                            u"No answer from the chip on %1: no data came from the port at "
                            "all."_s.arg(port),
                            u"Check that this is the board's port and that the USB cable "
                            "carries data (some only charge). "_s +
                                resetHint};
    }
    return FlasherError{ErrorKind::noAnswer,
                        u"No answer from the chip on %1: %2 bytes came from the port, but never "
                        "a valid reply."_s.arg(port)
                            .arg(bytesHeard),
                        u"Another device may be on this port, or something sends at another "
                        "speed. "_s +
                            resetHint};
}

}  // namespace esptool
