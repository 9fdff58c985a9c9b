#pragma once

#include "failure/FlasherError.h"

#include <QStringList>

#include <optional>

namespace esptool {

// Every failure the flasher reports, one name each. Its kind (which decides the exit status and
// what recovery may try), its message and its hint live together in one table (Failure.cpp),
// with %1, %2, ... for the facts of the case.
enum class Failure
{
    badArguments,
    filesOverlap,
    fileMissing,
    fileUnreadable,
    fileEmpty,
    fileLargerThanAnyFlash,
    fileDoesNotFit,
    portNotFound,
    permissionDenied,
    permissionDeniedNoGroup,
    portBusy,
    portFailure,
    baudNotAccepted,
    linkLost,
    bootedFirmware,
    waitingButSilent,
    noDataAtAll,
    noValidReply,
    wrongChip,
    otherBoard,
    lostAfterBaudChange,
    timeout,
    garbledReply,
    garbledFrames,
    garbledStatus,
    unreadableDigest,
    unsteadyRegister,
    romFailed,
    damagedRequest,
    flashIdUnfinished,
    restartedMidCommand,
    restartedTooOften,
    restartingForGood,
    stoppedAnswering,
    noisyLine,
    noisyLineTooLong,
    md5Mismatch,
    protectedBoard,
};

// Hints that other tables share.
namespace hint {
inline constexpr const char16_t* line = u"Check the cable, or try a lower baud rate.";
}  // namespace hint

// The failure with `facts` put into its message and hint (%1 is facts[0], and so on).
FlasherError failure(Failure which, const QStringList& facts = {},
                     std::optional<quint8> romCode = std::nullopt);

}  // namespace esptool
