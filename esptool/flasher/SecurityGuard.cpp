#include "flasher/SecurityGuard.h"

#include "failure/Failure.h"

#include <QtEndian>

using namespace Qt::StringLiterals;

namespace esptool {

namespace {

constexpr quint32 bootloaderAddress = 0x1000;
constexpr quint32 partitionTableAddress = 0x8000;
// Everything below the partition table is the bootloader's.
constexpr quint32 bootloaderEnd = partitionTableAddress;
constexpr quint8 imageMagic = 0xE9;
constexpr char partitionMagic[] = "\xAA\x50";
constexpr qsizetype partitionEntrySize = 32;
constexpr qsizetype partitionTableSize = 0xC00;
constexpr quint8 appPartitionType = 0x00;

QString hex(quint32 value)
{
    return u"0x%1"_s.arg(value, 0, 16);
}

// The bytes the regions put at `address`, as far as one region covers them.
QByteArrayView bytesAt(const QList<FlashRegion>& regions, quint32 address, qsizetype size)
{
    for (const FlashRegion& region : regions) {
        const quint64 end = quint64{region.address} + quint64(region.data.size());
        if (address >= region.address && quint64{address} + quint64(size) <= end)
            return QByteArrayView(region.data).sliced(address - region.address, size);
    }
    return {};
}

bool startsImage(const QList<FlashRegion>& regions, quint32 address)
{
    const QByteArrayView first = bytesAt(regions, address, 1);
    return !first.isEmpty() && static_cast<quint8>(first[0]) == imageMagic;
}

// Where the data holds plain content that encryption would turn into garbage, in words.
QStringList plainContent(const QList<FlashRegion>& regions)
{
    QStringList found;
    if (startsImage(regions, bootloaderAddress))
        found << u"bootloader at %1"_s.arg(hex(bootloaderAddress));
    const QByteArrayView table = bytesAt(regions, partitionTableAddress, 2);
    if (table == QByteArrayView(partitionMagic, 2)) {
        found << u"partition table at %1"_s.arg(hex(partitionTableAddress));
        for (qsizetype at = 0; at + partitionEntrySize <= partitionTableSize;
             at += partitionEntrySize) {
            const QByteArrayView entry = bytesAt(
                regions, partitionTableAddress + static_cast<quint32>(at), partitionEntrySize);
            if (entry.size() != partitionEntrySize || entry.first(2) != table)
                break;
            const auto offset = qFromLittleEndian<quint32>(entry.data() + 4);
            if (static_cast<quint8>(entry[2]) == appPartitionType && startsImage(regions, offset))
                found << u"application at %1"_s.arg(hex(offset));
        }
    }
    // An image written on its own at its partition, without a table among the data.
    for (const FlashRegion& region : regions) {
        const QString app = u"application at %1"_s.arg(hex(region.address));
        if (region.address != bootloaderAddress && startsImage(regions, region.address) &&
            !found.contains(app)) {
            found << app;
        }
    }
    return found;
}

FlasherError refusal(const QString& message, const QString& kindOfImage)
{
    return failure(Failure::protectedBoard, {message, kindOfImage});
}

QString secureBootName(const SecurityFuses& fuses)
{
    return fuses.secureBootV1 ? u"Secure Boot V1 (ABS_DONE_0)"_s : u"Secure Boot V2 (ABS_DONE_1)"_s;
}

}  // namespace

SecurityFuses securityFuses(const EfuseWords& efuses)
{
    SecurityFuses fuses;
    fuses.flashCryptCount = efuses.field(efuse::flashCryptCount);
    fuses.flashEncryption = qPopulationCount(fuses.flashCryptCount) % 2 == 1;
    fuses.secureBootV1 = efuses.field(efuse::secureBootV1) != 0;
    fuses.secureBootV2 = efuses.field(efuse::secureBootV2) != 0;
    fuses.downloadEncryptOff = efuses.field(efuse::downloadEncryptOff) != 0;
    return fuses;
}

GuardVerdict guardWrite(const SecurityFuses& fuses, const QList<FlashRegion>& regions,
                        const QString& port)
{
    GuardVerdict verdict;
    if (fuses.secureBootV1 || fuses.secureBootV2) {
        for (const FlashRegion& region : regions) {
            if (region.address >= bootloaderEnd)
                continue;
            const QString why =
                fuses.secureBootV1
                    ? u"the ROM starts only the bootloader whose digest it holds, and in its "
                      "one-time mode that bootloader can never be replaced"_s
                    : u"the ROM starts only a bootloader signed with the board's key"_s;
            verdict.refusal = refusal(
                u"%1 is enabled in the eFuses of the board on %2: %3, so writing %4 at %5, where "
                "the bootloader lives (below 0x8000), would leave it unable to boot."_s.arg(
                    secureBootName(fuses), port, why, region.name, hex(region.address)),
                u"signed"_s);
            return verdict;
        }
    }
    if (!fuses.flashEncryption)
        return verdict;
    const QString encryption =
        u"Flash encryption is on in the eFuses of the board on %1 (FLASH_CRYPT_CNT %2)"_s.arg(
            port, hex(fuses.flashCryptCount));
    if (const QStringList plain = plainContent(regions); !plain.isEmpty()) {
        verdict.refusal = refusal(
            u"%1: its bootloader decrypts everything it reads, and the ROM loader cannot write "
            "encrypted data, so the plain %2 would read as garbage and the board would no "
            "longer boot."_s.arg(encryption, plain.join(u", "_s)),
            u"encrypted"_s);
        return verdict;
    }
    verdict.warnings << u"%1: the data is written as it is, and runs only if it was encrypted for "
                        "this board."_s.arg(encryption);
    return verdict;
}

GuardVerdict guardErase(const SecurityFuses& fuses, const QString& port)
{
    GuardVerdict verdict;
    if (fuses.secureBootV1) {
        verdict.refusal = refusal(
            u"Secure Boot V1 (ABS_DONE_0) is enabled in the eFuses of the board on %1: erasing "
            "the whole flash removes its bootloader, and in the one-time mode, which cannot be "
            "told from the other over serial, no bootloader can ever be written again."_s.arg(port),
            u"signed"_s);
        return verdict;
    }
    if (fuses.flashEncryption && fuses.downloadEncryptOff) {
        verdict.refusal = refusal(
            u"Flash encryption is on in the eFuses of the board on %1, and encryption in "
            "download mode is disabled (DISABLE_DL_ENCRYPT, release mode): after an erase no "
            "image written over serial could run, so the board could not be restored this "
            "way."_s.arg(port),
            u"encrypted"_s);
        return verdict;
    }
    if (fuses.secureBootV2) {
        verdict.warnings << u"Secure Boot V2 (ABS_DONE_1) is enabled: after the erase the board "
                            "starts again only once signed images are written to it."_s;
    }
    if (fuses.flashEncryption) {
        verdict.warnings << u"Flash encryption is on: after the erase the board starts again only "
                            "once encrypted images are written to it."_s;
    }
    return verdict;
}

}  // namespace esptool
