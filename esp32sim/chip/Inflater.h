#pragma once

#include "esp32sim/protocol/RomProtocol.h"

#include <QByteArray>
#include <QByteArrayView>

#include <memory>
#include <optional>

namespace esp32sim {

// Streaming zlib inflater for FLASH_DEFL_DATA: the 2-byte zlib header and the Adler-32
// trailer are checked here so that a broken stream and a bad checksum give the ROM's two
// distinct errors (InflateFailed, InflateAdlerMismatch).
class Inflater
{
public:
    Inflater();
    ~Inflater();
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    struct Result
    {
        std::optional<RomError> error;
        QByteArray output;
    };

    // Feeds the next piece of the stream; `output` is what it inflates to.
    Result push(QByteArrayView input);

    void reset();

private:
    struct Stream;
    std::unique_ptr<Stream> m_stream;
};

}  // namespace esp32sim
