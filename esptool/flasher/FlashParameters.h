#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// SPI flash facts as tables: sizes from the JEDEC ID, the names users type, and the codes the
// ESP32 image header stores.
namespace esptool::flash {

// Size in bytes that the JEDEC ID (as read from SPI W0: manufacturer in bits 7:0, memory type
// in 15:8, capacity in 23:16) announces, or nothing for an unknown code.
std::optional<quint32> sizeFromJedecId(quint32 jedecId);

// An ID that shows no flash chip answered at all (all zeros, all ones, a floating bus).
bool jedecIdLooksAbsent(quint32 jedecId);

// "1MB" .. "16MB" to bytes; nothing for any other name.
std::optional<quint32> sizeFromName(const QString& name);
// Bytes to "4MB", "512KB" etc.
QString sizeName(quint32 bytes);

enum class Mode
{
    keep,
    qio,
    qout,
    dio,
    dout,
};
enum class Frequency
{
    keep,
    mhz80,
    mhz40,
    mhz26,
    mhz20,
};

std::optional<Mode> modeFromName(const QString& name);
std::optional<Frequency> frequencyFromName(const QString& name);

// The ESP32 bootloader lives at this offset; only an image written there has its flash
// settings header patched.
inline constexpr quint32 bootloaderOffset = 0x1000;

struct HeaderPatch
{
    Mode mode = Mode::keep;
    Frequency frequency = Frequency::keep;
    std::optional<quint32> sizeBytes;  // nothing: keep
};

struct PatchOutcome
{
    enum class Kind
    {
        notApplicable,  // not at the bootloader offset, or nothing to change
        notAnImage,     // at the offset, but the data is no ESP32 image
        patched,
    };
    Kind kind = Kind::notApplicable;
    quint16 parameters = 0;  // header bytes 2 and 3 after patching, byte 2 first
    bool digestUpdated = false;
};

// Rewrites bytes 2 and 3 of an ESP32 image that is about to be written at `address` (and the
// SHA-256 appended to the image, when it carries one). Data at any other address is left alone.
PatchOutcome patchImageHeader(QByteArray& data, quint32 address, const HeaderPatch& patch);

}  // namespace esptool::flash
