#pragma once

#include "failure/FlasherError.h"
#include "flasher/ChipInfo.h"
#include "flasher/Options.h"

#include <QList>
#include <QStringList>

#include <optional>

namespace esptool {

// What the security eFuses say about a board, for the one question that matters here: would a
// plain write or an erase from the ROM loader leave it unable to boot?
struct SecurityFuses
{
    quint32 flashCryptCount = 0;
    bool flashEncryption = false;     // an odd number of bits set in FLASH_CRYPT_CNT
    bool secureBootV1 = false;        // ABS_DONE_0
    bool secureBootV2 = false;        // ABS_DONE_1
    bool downloadEncryptOff = false;  // DISABLE_DL_ENCRYPT
};

SecurityFuses securityFuses(const EfuseWords& efuses);

// The guard's answer: a refusal (which `force` turns into a warning), and warnings.
struct GuardVerdict
{
    std::optional<FlasherError> refusal;
    QStringList warnings;
};

// Before anything is erased. Flash encryption refuses plain images (an image header where a
// bootloader or application starts, a partition table at 0x8000); Secure Boot refuses anything
// below 0x8000, where the bootloader lives.
GuardVerdict guardWrite(const SecurityFuses& fuses, const QList<FlashRegion>& regions,
                        const QString& port);
// Secure Boot V1 refuses a whole-flash erase (its one-time mode cannot be told from the other,
// and the bootloader could never be written again), as does encryption in release mode (no
// image written over serial could run afterwards).
GuardVerdict guardErase(const SecurityFuses& fuses, const QString& port);

}  // namespace esptool
