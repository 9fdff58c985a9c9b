#include "SpiController.h"

namespace esp32sim {

namespace {

constexpr quint32 kFloatingBus = 0xFFFFFFFF;
constexpr quint32 kUser2CommandValueMask = 0xFFFF;
constexpr int kUser2CommandBitsShift = 28;
constexpr quint32 kDlenMask = 0xFFFFFF;
constexpr int kBitsPerWord = 32;
constexpr quint32 kDataWords = 16;  // W0..W15

}  // namespace

SpiController::SpiController(quint32 jedecId)
    : m_jedecId(jedecId)
{}

bool SpiController::covers(quint32 address)
{
    return address >= kBase && address < kBase + kWordCount * 4 && address % 4 == 0;
}

quint32& SpiController::word(quint32 address)
{
    return m_words.at((address - kBase) / 4);
}

quint32 SpiController::read(quint32 address) const
{
    return m_words.at((address - kBase) / 4);
}

void SpiController::write(quint32 address, quint32 value)
{
    word(address) = value;
    if (address == kCmd && (value & kCmdUsr) != 0) {
        runUserCommand();
        word(kCmd) &= ~kCmdUsr;
    }
}

void SpiController::reset()
{
    m_words.fill(0);
}

void SpiController::runUserCommand()
{
    ++m_userCommandsRun;
    const quint32 user = read(kUser);
    if ((user & kUserMiso) == 0)
        return;  // nothing clocked in: the data buffer keeps what it held

    // A flash on other pins than the attached ones leaves MISO floating high. A connected one
    // answers RDID with its JEDEC ID; every other command (status, SFDP) reads as zeros here.
    const quint32 user2 = read(kUser2);
    const bool eightBitCommand =
        (user & kUserCommand) != 0 && (user2 >> kUser2CommandBitsShift) == 7;
    quint32 response = 0;
    if (!m_flashConnected)
        response = kFloatingBus;
    else if (eightBitCommand && (user2 & kUser2CommandValueMask) == kFlashRdid)
        response = m_jedecId;

    // MISO_DLEN holds bits - 1; the first byte clocked in lands in W0 bits 7:0.
    const quint32 bits = (read(kMisoDlen) & kDlenMask) + 1;
    const quint32 firstWordBits = bits >= kBitsPerWord ? kBitsPerWord : bits;
    const quint32 mask = firstWordBits == kBitsPerWord ? 0xFFFFFFFFU : (1U << firstWordBits) - 1;
    word(kW0) = response & mask;
    // Longer reads spill into W1.. (16 words of buffer).
    for (quint32 filled = kBitsPerWord, i = 1; filled < bits && i < kDataWords;
         filled += kBitsPerWord, ++i)
        word(kW0 + 4 * i) = m_flashConnected ? 0 : kFloatingBus;
}

}  // namespace esp32sim
