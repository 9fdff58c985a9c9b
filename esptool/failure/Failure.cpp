#include "failure/Failure.h"

#include <array>

using namespace Qt::StringLiterals;

namespace esptool {

namespace {

struct FailureText
{
    Failure which;
    ErrorKind kind;
    const char16_t* message;
    const char16_t* hint;  // empty: nothing the user can do
};

constexpr const char16_t* lineHint = hint::line;
constexpr const char16_t* resetHint = u"Hold the BOOT button while resetting the board (press "
                                      u"and release EN/RESET), then release BOOT and try again.";
constexpr const char16_t* supplyHint =
    u"A restart during a write points at the board's power supply: plug it into a powered USB "
    u"port or hub, use a shorter USB cable, and disconnect anything else that draws current "
    u"from the board.";

// clang-format off
constexpr std::array<FailureText, 38> texts{{
    {Failure::badArguments, ErrorKind::badArguments,
     u"Bad arguments: %1",
     u"Run with --help for the full usage."},
    {Failure::filesOverlap, ErrorKind::badArguments,
     u"%1 at 0x%2 overlaps %3 at 0x%4.",
     u"Give each file its own stretch of flash."},
    {Failure::fileMissing, ErrorKind::fileMissing,
     u"File %1 does not exist.",
     u"Check the path of the image."},
    {Failure::fileUnreadable, ErrorKind::fileMissing,
     u"File %1 cannot be read: %2.",
     u""},
    {Failure::fileEmpty, ErrorKind::fileEmpty,
     u"File %1 is empty.",
     u"Check that this is the right image."},
    {Failure::fileLargerThanAnyFlash, ErrorKind::fileTooLarge,
     u"File %1 (%2 bytes) is larger than any ESP32 flash (16MB).",
     u"Check that this is the right image."},
    {Failure::fileDoesNotFit, ErrorKind::fileTooLarge,
     u"%1 (%2 bytes at %3) does not fit in the %4 flash.",
     u"Use an image made for this board's flash size."},
    {Failure::portNotFound, ErrorKind::portNotFound,
     u"Serial port %1 does not exist.",
     u"Check that the board is plugged in and choose its port again."},
    {Failure::permissionDenied, ErrorKind::permissionDenied,
     u"No permission to open serial port %1.",
     u"Add your user to the group '%2' that owns it (sudo usermod -aG %2 $USER), then log out "
     u"and in again."},
    {Failure::permissionDeniedNoGroup, ErrorKind::permissionDenied,
     u"No permission to open serial port %1.",
     u"Ask an administrator for read and write access to it, then log out and in again."},
    {Failure::portBusy, ErrorKind::portBusy,
     u"Serial port %1 is in use by another program%2.",
     u"Close any serial monitor or other flasher using it and try again."},
    {Failure::portFailure, ErrorKind::portFailure,
     u"Could not open serial port %1: %2.",
     u""},
    {Failure::baudNotAccepted, ErrorKind::portFailure,
     u"Serial port %1 does not accept %2 baud: %3.",
     u"Try a lower baud rate."},
    {Failure::linkLost, ErrorKind::linkLost,
     u"The connection to the board on %1 was lost: %2.",
     u"Check that the board is still plugged in and the cable is sound, then try again."},
    {Failure::bootedFirmware, ErrorKind::bootedFirmware,
     u"The board on %1 started its own firmware instead of the serial loader (it printed "
     u"\"%2\").",
     u"Put it into download mode: hold BOOT (IO0), press and release EN (RESET), release BOOT, "
     u"and try again."},
    {Failure::waitingButSilent, ErrorKind::noAnswer,
     u"No answer from the chip on %1: it is waiting for a download (\"%2\") but never replied.",
     u"The board's receive or transmit line may be broken; try another cable or adapter."},
    {Failure::noDataAtAll, ErrorKind::noAnswer,
     u"No answer from the chip on %1: no data came from the port at all.",
     u"Check that this is the board's port and that the USB cable carries data (some only "
     u"charge). %R"},
    {Failure::noValidReply, ErrorKind::noAnswer,
     u"No answer from the chip on %1: %2 bytes came from the port, but never a valid reply.",
     u"Another device may be on this port, or something sends at another speed. %R"},
    {Failure::wrongChip, ErrorKind::wrongChip,
     u"The chip on %1 is not an ESP32 (chip magic %2, expected %3).",
     u"This tool flashes the original ESP32 only; check the board."},
    {Failure::otherBoard, ErrorKind::otherBoard,
     u"Another board answered on %1 after the link came back (MAC %2, expected %3); stopped "
     u"without writing to it.",
     u"Connect the board that was being flashed and start again."},
    {Failure::lostAfterBaudChange, ErrorKind::lostAfterBaudChange,
     u"The chip stopped answering after the switch to %1 baud.",
     u"Try a lower baud rate, such as 460800 or 115200."},
    {Failure::timeout, ErrorKind::timeout,
     u"The chip did not answer %1 within %2 s.",
     lineHint},
    {Failure::garbledReply, ErrorKind::garbledReply,
     u"The chip's reply to %1 arrived garbled.",
     lineHint},
    {Failure::garbledFrames, ErrorKind::garbledReply,
     u"The chip's reply to %1 could not be read (%2 garbled frame(s) in %3 s).",
     lineHint},
    {Failure::garbledStatus, ErrorKind::garbledReply,
     u"The chip's reply to the request to %1 reported error 0x%2, which it never gives for "
     u"that: the reply was damaged on its way.",
     lineHint},
    {Failure::unreadableDigest, ErrorKind::garbledReply,
     u"The chip's reply to SPI_FLASH_MD5 holds %1 bytes instead of a 32-digit hash.",
     lineHint},
    {Failure::unsteadyRegister, ErrorKind::garbledReply,
     u"Reading register 0x%1 gave a different value every time.",
     lineHint},
    {Failure::romFailed, ErrorKind::romError,
     u"The chip failed to %1: %2.",
     u"%3"},
    {Failure::damagedRequest, ErrorKind::romError,
     u"The request to %1 reached the chip damaged: it refused it as opcode 0x%2 with %3.",
     u"%4"},
    {Failure::flashIdUnfinished, ErrorKind::romError,
     u"The chip's SPI controller did not finish reading the flash ID.",
     u"Reset the board and try again."},
    {Failure::restartedMidCommand, ErrorKind::chipRestarted,
     u"The chip restarted while it was to answer %1 (it printed \"%2\").",
     u"Check the board's power supply."},
    {Failure::restartedTooOften, ErrorKind::chipRestarted,
     u"The board on %1 restarted %2 times during the write (last: %3).",
     u"%S"},
    {Failure::restartingForGood, ErrorKind::chipRestarted,
     u"The board on %1 restarted during the write and %2; %3.",
     u"%S Then hold BOOT (IO0), press and release EN (RESET), release BOOT, and write again."},
    {Failure::stoppedAnswering, ErrorKind::stoppedAnswering,
     u"The chip on %1 stopped answering during the write, at %2 baud and at 115200.",
     u"Check the board's power supply and the cable; then hold BOOT (IO0), press and release EN "
     u"(RESET), release BOOT, and write again."},
    {Failure::noisyLine, ErrorKind::noisyLine,
     u"The line to the chip is too noisy at %1 baud: %2 block(s) had to be sent again and %3 "
     u"piece(s) written again, and %4 still failed. Last: %5",
     u"%6"},
    {Failure::noisyLineTooLong, ErrorKind::noisyLine,
     u"The line to the chip is too noisy at %1 baud: the write took more than %2 min (%3 "
     u"block(s) sent again, %4 piece(s) written again), and %5 still failed. Last: %6",
     u"%7"},
    {Failure::md5Mismatch, ErrorKind::md5Mismatch,
     u"Verification failed: the flash at %1 does not hold the data written (%2, expected MD5 "
     u"%3).",
     u"Try again; if it keeps failing, erase the flash first or use a lower baud rate."},
    {Failure::protectedBoard, ErrorKind::protectedBoard,
     u"%1 Stopped before anything was erased.",
     u"This board needs a tool that writes %2 images. --force writes anyway."},
}};
// clang-format on

const FailureText& textOf(Failure which)
{
    for (const FailureText& text : texts) {
        if (text.which == which)
            return text;
    }
    return texts.front();  // every failure has its row; a test holds that
}

// %1 .. %9 are the facts; %R and %S the hints shared by several rows.
QString filled(const char16_t* text, const QStringList& facts)
{
    QString result = QString::fromUtf16(text);
    result.replace(u"%R"_s, QString::fromUtf16(resetHint))
        .replace(u"%S"_s, QString::fromUtf16(supplyHint));
    QString out;
    out.reserve(result.size());
    for (qsizetype i = 0; i < result.size(); ++i) {
        const QChar c = result.at(i);
        if (c == u'%' && i + 1 < result.size() && result.at(i + 1).isDigit() &&
            result.at(i + 1) != u'0') {
            const auto index = static_cast<qsizetype>(result.at(i + 1).digitValue()) - 1;
            out += index < facts.size() ? facts.at(index) : QString();
            ++i;
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace

FlasherError failure(Failure which, const QStringList& facts, std::optional<quint8> romCode)
{
    const FailureText& text = textOf(which);
    return FlasherError{text.kind, filled(text.message, facts), filled(text.hint, facts), romCode};
}

}  // namespace esptool
