#pragma once

#include "demo/DemoFault.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace tavix {

// What the demo was asked for on its command line.
struct DemoOptions
{
    std::optional<DemoFault> fault = std::nullopt;
    // Where the simulated board writes its flash when it stops; empty for nowhere.
    QString dumpPath = {};
    // Instead of a demo: a picture of the whole screen into this file (for a demo under Xvfb).
    QString screenshotPath = {};
    // Replies as slow as a real board's; the tests turn it off.
    bool realTiming = true;
    // The board is plugged in this long after the window opens; at once when absent.
    std::optional<int> plugInSeconds = std::nullopt;
};

struct ParsedDemoOptions
{
    std::optional<DemoOptions> options;  // empty on error or --help
    QString error;
    bool helpRequested = false;
};

// `arguments` includes the program name. Needs no application object, so that a wrong option is
// refused before any display is asked for.
ParsedDemoOptions parseDemoOptions(const QStringList& arguments);
QString demoHelp();
QString demoUsage();

}  // namespace tavix
