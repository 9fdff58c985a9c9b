#include "flasher/SpiFlash.h"

#include "failure/Failure.h"
#include "link/RomConnection.h"
#include "protocol/RomProtocol.h"

using namespace Qt::StringLiterals;

namespace esptool {

Result<quint32> readJedecId(RomConnection& rom)
{
    namespace spi = rom::spi;
    const Result<quint32> savedUser = rom.readReg(spi::user);
    if (!savedUser)
        return savedUser.error();
    const Result<quint32> savedUser2 = rom.readReg(spi::user2);
    if (!savedUser2)
        return savedUser2.error();

    const quint32 user2 =
        (7u << spi::user2CommandBitsShift) | static_cast<quint32>(spi::readJedecId);
    for (const auto& [address, value] :
         {std::pair{spi::misoDlen, static_cast<quint32>(spi::jedecIdBits - 1)},
          std::pair{spi::user, spi::userCommand | spi::userMiso}, std::pair{spi::user2, user2},
          std::pair{spi::w0, 0u}, std::pair{spi::cmd, spi::cmdUsr}}) {
        if (Status written = rom.writeReg(address, value); !written)
            return written.error();
    }

    bool done = false;
    for (int poll = 0; poll < spi::maxCommandPolls && !done; ++poll) {
        const Result<quint32> command = rom.readReg(spi::cmd);
        if (!command)
            return command.error();
        done = (command.value() & spi::cmdUsr) == 0;
    }
    if (!done) {
        return failure(Failure::flashIdUnfinished);
    }
    const Result<quint32> id = rom.readReg(spi::w0);
    if (!id)
        return id.error();

    if (Status restored = rom.writeReg(spi::user, savedUser.value()); !restored)
        return restored.error();
    if (Status restored = rom.writeReg(spi::user2, savedUser2.value()); !restored)
        return restored.error();
    return id.value() & 0xFFFFFF;
}

}  // namespace esptool
