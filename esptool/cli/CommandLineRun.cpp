#include "cli/CommandLineRun.h"

#include "cli/CommandLine.h"
#include "cli/ConsoleReporter.h"
#include "failure/Failure.h"
#include "flasher/Flasher.h"
#include "link/BusyPort.h"
#include "link/QtSerialLink.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace esptool {

namespace {

// ESP32 flash chips stop at 16MB; a bigger file cannot be meant for one.
constexpr qint64 largestFlash = qint64{16} * 1024 * 1024;

QString versionText()
{
    return u"esptool (Tavix Flash Tool) " TAVIX_VERSION " - ESP32 ROM loader flasher, no stub"_s;
}

Result<FlashRegion> loadFile(const cli::WriteItem& item)
{
    const QFileInfo info(item.file);
    if (!info.exists()) {
        return failure(Failure::fileMissing, {item.file});
    }
    QFile file(item.file);
    if (info.isDir() || !file.open(QIODevice::ReadOnly)) {
        return failure(Failure::fileUnreadable,
                       {item.file, info.isDir() ? u"it is a folder"_s : file.errorString()});
    }
    if (file.size() > largestFlash) {
        return failure(Failure::fileLargerThanAnyFlash, {item.file, QString::number(file.size())});
    }
    FlashRegion region{item.address, file.readAll(), info.fileName()};
    if (region.data.isEmpty()) {
        return failure(Failure::fileEmpty, {item.file});
    }
    return region;
}

Result<QList<FlashRegion>> loadFiles(const QList<cli::WriteItem>& items)
{
    QList<FlashRegion> regions;
    for (const cli::WriteItem& item : items) {
        Result<FlashRegion> region = loadFile(item);
        if (!region)
            return region.error();
        regions.append(std::move(region).value());
    }
    QList<FlashRegion> sorted = regions;
    std::sort(sorted.begin(), sorted.end(),
              [](const FlashRegion& a, const FlashRegion& b) { return a.address < b.address; });
    for (qsizetype i = 1; i < sorted.size(); ++i) {
        const FlashRegion& before = sorted[i - 1];
        if (static_cast<quint64>(before.address) + static_cast<quint64>(before.data.size()) >
            sorted[i].address) {
            return failure(Failure::filesOverlap,
                           {before.name, QString::number(before.address, 16), sorted[i].name,
                            QString::number(sorted[i].address, 16)});
        }
    }
    return regions;
}

Status run(const cli::Invocation& invocation, ConsoleReporter& console)
{
    QList<FlashRegion> regions;
    if (invocation.command == cli::Command::writeFlash) {
        Result<QList<FlashRegion>> loaded = loadFiles(invocation.items);
        if (!loaded)
            return loaded.error();
        regions = std::move(loaded).value();
    }

    const SessionSettings& session = invocation.session;
    console.info(u"Opening %1 at %2 baud..."_s.arg(invocation.port).arg(session.connectBaud()));
    Result<std::unique_ptr<SerialLink>> link =
        QtSerialLink::open(invocation.port, session.connectBaud());
    if (!link)
        return link.error();
    // Programs that have the port open without a lock hear the board's replies as well.
    if (const QString shared = sharedPortWarning(invocation.port, PortUsers().of(invocation.port));
        !shared.isEmpty())
        console.warning(shared);

    Flasher flasher(std::move(link).value(), session, &QtSerialLink::open, console);
    if (Status opened = flasher.openSession(); !opened)
        return opened;
    Status done = invocation.command == cli::Command::writeFlash
                      ? flasher.writeFlash(regions, invocation.write)
                      : flasher.eraseFlash();
    if (!done)
        return done;
    flasher.finish(invocation.after);
    return {};
}

}  // namespace

int runCommandLine(const QStringList& arguments, ConsoleReporter& console)
{
    const cli::ParsedCommandLine parsed = cli::parseCommandLine(arguments);
    switch (parsed.action) {
    case cli::ParsedCommandLine::Action::help:
        console.info(cli::helpText());
        return 0;
    case cli::ParsedCommandLine::Action::version:
        console.info(versionText());
        return 0;
    case cli::ParsedCommandLine::Action::error: {
        const FlasherError error = failure(Failure::badArguments, {parsed.error});
        console.error(cli::usageLine());
        console.error(error.line());
        return exitStatusFor(error.kind);
    }
    case cli::ParsedCommandLine::Action::run:
        break;
    }

    console.info(versionText());
    QElapsedTimer timer;
    timer.start();
    const Status outcome = run(parsed.invocation, console);
    if (!outcome) {
        console.error(withPortUsers(outcome.error(), parsed.invocation.port, PortUsers()).line());
        return exitStatusFor(outcome.error().kind);
    }
    const QString what = parsed.invocation.command == cli::Command::writeFlash
                             ? u"written and verified"_s
                             : u"erased and verified"_s;
    console.info(u"Done: flash %1 in %2 s."_s.arg(
        what, QString::number(static_cast<double>(timer.elapsed()) / 1000.0, 'f', 1)));
    return 0;
}

}  // namespace esptool
