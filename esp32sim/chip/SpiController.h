#pragma once

#include <QtGlobal>

#include <array>

namespace esp32sim {

// The SPI1 controller block at 0x3FF42000..0x3FF420FC through which clients send user
// commands to the flash chip (RDID, SFDP reads). Writing SPI_CMD with the USR bit runs the
// command at once, so the bit already reads back clear.
class SpiController
{
public:
    static constexpr quint32 base = 0x3FF42000;
    static constexpr quint32 cmd = base + 0x00;
    static constexpr quint32 addr = base + 0x04;
    static constexpr quint32 user = base + 0x1C;
    static constexpr quint32 user1 = base + 0x20;
    static constexpr quint32 user2 = base + 0x24;
    static constexpr quint32 mosiDlen = base + 0x28;
    static constexpr quint32 misoDlen = base + 0x2C;
    static constexpr quint32 w0 = base + 0x80;
    static constexpr quint32 cmdUsr = 1U << 18;
    static constexpr quint32 userCommand = 1U << 31;
    static constexpr quint32 userMiso = 1U << 28;
    static constexpr quint8 flashRdid = 0x9F;
    static constexpr int wordCount = 64;

    explicit SpiController(quint32 jedecId);

    static bool covers(quint32 address);
    quint32 read(quint32 address) const;
    void write(quint32 address, quint32 value);
    void reset();

    // A flash that is not wired to the attached pins answers with a floating bus.
    void setFlashConnected(bool connected) { m_flashConnected = connected; }

private:
    void runUserCommand();
    quint32& word(quint32 address);

    quint32 m_jedecId;
    bool m_flashConnected = true;
    std::array<quint32, wordCount> m_words{};
};

}  // namespace esp32sim
