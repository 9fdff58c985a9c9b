#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace esptool {

// One reply of the ESP32 ROM loader, taken apart.
struct RomReply
{
    quint8 opcode = 0;
    // READ_REG's register value; leftover content for every other command.
    quint32 value = 0;
    // The data field without the trailing status bytes.
    QByteArray payload;
    quint8 status = 0;  // 0 = success
    quint8 error = 0;   // ROM error code when status != 0

    bool succeeded() const { return status == 0; }
};

struct ReplyParse
{
    enum class Outcome
    {
        reply,         // a well-formed reply
        notChipReply,  // too short for a header, or not sent by the chip (direction != 1)
        malformed,     // a reply header whose size field disagrees with the frame, or no status
    };
    Outcome outcome = Outcome::notChipReply;
    RomReply reply;  // header fields are filled in for Malformed too, when present
};

// Takes apart one unescaped frame. Pure: no state, any bytes are safe input.
ReplyParse parseReply(QByteArrayView frame);

}  // namespace esptool
