#include "demo/DemoOptions.h"

#include <QCommandLineParser>

using namespace Qt::StringLiterals;

namespace tavix {

namespace {

QString faultList()
{
    QStringList names;
    for (const DemoFault& fault : demoFaults())
        names << fault.name;
    return names.join(u", "_s);
}

}  // namespace

QString demoUsage()
{
    return u"usage: tavix-flash-tool-demo [--fault NAME] [--dump FILE] [--plug-in SECONDS]\n"
           "       tavix-flash-tool-demo --screenshot FILE"_s;
}

QString demoHelp()
{
    QString help = demoUsage() + u"\nTavix Flash Tool's window over a simulated ESP32 (esp32-sim) "
                                 "that is as slow as a real board.\n"
                                 "  --fault NAME       the board commits one of these faults:\n"_s;
    for (const DemoFault& fault : demoFaults())
        help += u"      %1 %2\n"_s.arg(fault.name, -17).arg(fault.shows);
    return help +
           u"  --dump FILE        write the simulated flash to FILE when the demo ends\n"
           "  --plug-in SECONDS  plug the board in SECONDS after the window opens; the port\n"
           "                     list shows it at once, as it shows an adapter udev announces\n"
           "  --screenshot FILE  save a picture of the whole screen (DISPLAY) to FILE\n"_s;
}

ParsedDemoOptions parseDemoOptions(const QStringList& arguments)
{
    const QCommandLineOption fault(u"fault"_s, QString(), u"NAME"_s);
    const QCommandLineOption dump(u"dump"_s, QString(), u"FILE"_s);
    const QCommandLineOption screenshot(u"screenshot"_s, QString(), u"FILE"_s);
    const QCommandLineOption plugIn(u"plug-in"_s, QString(), u"SECONDS"_s);
    const QCommandLineOption help(QStringList{u"h"_s, u"help"_s});
    QCommandLineParser parser;
    parser.addOptions({fault, dump, screenshot, plugIn, help});
    ParsedDemoOptions parsed;
    if (!parser.parse(arguments)) {
        parsed.error = parser.errorText();
        return parsed;
    }
    parsed.helpRequested = parser.isSet(help);
    if (parsed.helpRequested)
        return parsed;
    if (!parser.positionalArguments().isEmpty()) {
        parsed.error = u"unexpected argument: %1"_s.arg(parser.positionalArguments().constFirst());
        return parsed;
    }
    DemoOptions options{.dumpPath = parser.value(dump), .screenshotPath = parser.value(screenshot)};
    if (parser.isSet(fault)) {
        options.fault = findDemoFault(parser.value(fault));
        if (!options.fault) {
            parsed.error =
                u"unknown fault '%1' (one of: %2)"_s.arg(parser.value(fault), faultList());
            return parsed;
        }
    }
    if (parser.isSet(plugIn)) {
        bool ok = false;
        options.plugInSeconds = parser.value(plugIn).toInt(&ok);
        if (!ok || *options.plugInSeconds < 0) {
            parsed.error =
                u"--plug-in takes a number of seconds, not '%1'"_s.arg(parser.value(plugIn));
            return parsed;
        }
    }
    parsed.options = options;
    return parsed;
}

}  // namespace tavix
