#pragma once

#include <QString>

namespace esptool {

// Where one region's write has got to. Blocks count the packets the chip has acknowledged.
struct WriteProgress
{
    quint32 regionAddress = 0;
    quint32 address = 0;  // flash address of the data in the block just acknowledged
    int blocksDone = 0;
    int blockCount = 0;

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
