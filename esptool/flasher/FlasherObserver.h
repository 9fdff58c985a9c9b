#pragma once

#include <QString>

namespace esptool {

// Where one region's write has got to: bytes of the region written and checked so far. It
// only ever rises, also while a piece is written again.
struct WriteProgress
{
    quint32 regionAddress = 0;
    quint32 address = 0;  // flash address of the data in the block just acknowledged
    qint64 bytesDone = 0;
    qint64 bytesTotal = 0;

    friend bool operator==(const WriteProgress&, const WriteProgress&) = default;
};

// The flasher never prints: what it has to say leaves it through this interface, and the
// command line decides how it looks.
class FlasherObserver
{
public:
    virtual ~FlasherObserver() = default;

    virtual void info(const QString& line) = 0;
    virtual void warning(const QString& line) = 0;
    virtual void writeProgress(const WriteProgress& progress) = 0;
};

}  // namespace esptool
