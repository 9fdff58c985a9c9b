#pragma once

#include <QStringList>

namespace esptool {

class ConsoleReporter;

// Runs one command line (without the program name) to the end and returns the exit status:
// 0 only when everything asked for was done and verified, 2 for bad arguments, 1 otherwise.
int runCommandLine(const QStringList& arguments, ConsoleReporter& console);

}  // namespace esptool
