#pragma once

#include "esp32sim/chip/SimulatorOptions.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace esp32sim {

// The esp32-sim executable's options: the chip's, plus what to write at exit.
struct CommandLineOptions
{
    SimulatorOptions simulator;
    QString dumpPath;   // --dump: the whole flash array
    QString statsPath;  // --stats: SimulatorStatistics as JSON
    // --exit-with-stdin: stop, as on SIGTERM, once standard input closes.
    bool exitWithStdin = false;
};

struct ParsedCommandLine
{
    std::optional<CommandLineOptions> options;  // empty on error or --help
    QString error;                              // set on error
    bool helpRequested = false;
};

// `arguments` includes the program name, as QCoreApplication::arguments() gives it.
ParsedCommandLine parseCommandLine(const QStringList& arguments);
QString commandLineHelp();

}  // namespace esp32sim
