#include "esp32sim/chip/SpiController.h"

namespace esp32sim {

namespace {

constexpr quint32 floatingBus = 0xFFFFFFFF;
constexpr quint32 user2CommandValueMask = 0xFFFF;
constexpr int user2CommandBitsShift = 28;
constexpr quint32 dlenMask = 0xFFFFFF;
constexpr int bitsPerWord = 32;
constexpr quint32 dataWords = 16;  // W0..W15

}  // namespace

SpiController::SpiController(quint32 jedecId)
    : m_jedecId(jedecId)
{}

bool SpiController::covers(quint32 address)
{
    return address >= base && address < base + wordCount * 4 && address % 4 == 0;
}

quint32& SpiController::word(quint32 address)
{
    return m_words.at((address - base) / 4);
}

quint32 SpiController::read(quint32 address) const
{
    return m_words.at((address - base) / 4);
}

void SpiController::write(quint32 address, quint32 value)
{
    word(address) = value;
    if (address == cmd && (value & cmdUsr) != 0) {
        runUserCommand();
        word(cmd) &= ~cmdUsr;
    }
}

void SpiController::reset()
{
    m_words.fill(0);
}

void SpiController::runUserCommand()
{
    const quint32 phases = read(user);
    if ((phases & userMiso) == 0)
        return;  // nothing clocked in: the data buffer keeps what it held

    // A flash on other pins than the attached ones leaves MISO floating high. A connected one
    // answers RDID with its JEDEC ID; every other command (status, SFDP) reads as zeros here.
    const quint32 command = read(user2);
    const bool eightBitCommand =
        (phases & userCommand) != 0 && (command >> user2CommandBitsShift) == 7;
    quint32 response = 0;
    if (!m_flashConnected)
        response = floatingBus;
    else if (eightBitCommand && (command & user2CommandValueMask) == flashRdid)
        response = m_jedecId;

    // MISO_DLEN holds bits - 1; the first byte clocked in lands in W0 bits 7:0.
    const quint32 bits = (read(misoDlen) & dlenMask) + 1;
    const quint32 firstWordBits = bits >= bitsPerWord ? bitsPerWord : bits;
    const quint32 mask = firstWordBits == bitsPerWord ? 0xFFFFFFFFU : (1U << firstWordBits) - 1;
    word(w0) = response & mask;
    // Longer reads spill into W1.. (16 words of buffer).
    for (quint32 filled = bitsPerWord, i = 1; filled < bits && i < dataWords;
         filled += bitsPerWord, ++i)
        word(w0 + 4 * i) = m_flashConnected ? 0 : floatingBus;
}

}  // namespace esp32sim
