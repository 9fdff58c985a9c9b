#pragma once

#include "flasher/FlasherObserver.h"

#include <cstdio>

namespace esptool {

// Prints what the flasher reports, one line at a time, flushing after each: a parent reading
// a pipe would otherwise see block-buffered output only when the run ends. Progress becomes
// "Writing at 0x00010000... (12 %)" lines, one per whole percent, rising from 0 to 100 over
// each region.
class ConsoleReporter final : public FlasherObserver
{
public:
    ConsoleReporter(std::FILE* out, std::FILE* err);

    void info(const QString& line) override;
    void warning(const QString& line) override;
    void writeProgress(const WriteProgress& progress) override;
    void error(const QString& line);

    // "Writing at 0x........... (N %)" for a state, N = whole percent of the region written.
    static QString progressLine(const WriteProgress& progress);

private:
    static int percent(const WriteProgress& progress);
    static void print(std::FILE* stream, const QString& line);

    std::FILE* m_out;
    std::FILE* m_err;
    int m_lastPercent = -1;
    quint32 m_lastRegion = 0;
};

}  // namespace esptool
