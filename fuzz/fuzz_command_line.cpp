// The flasher's command-line parser.
//
// Input: the arguments, NUL-separated, each UTF-8 (see FuzzInput.h). Invariants:
// - an error comes with a message of one sentence, and only an error does;
// - a run that is accepted has a port, a baud rate in range and, for write-flash, ADDRESS FILE
//   pairs with sector-aligned addresses and file names;
// - an accepted run, written out again as a plain command line, parses to the same run.

#include "FuzzInput.h"
#include "cli/CommandLine.h"

using namespace Qt::StringLiterals;
using esptool::AfterReset;
using esptool::BeforeReset;
using esptool::FlashSizeChoice;
using esptool::cli::Command;
using esptool::cli::Invocation;
using esptool::cli::ParsedCommandLine;
namespace flash = esptool::flash;

namespace {

constexpr int minimumBaud = 1200;
constexpr int maximumBaud = 5'000'000;
constexpr quint32 sectorSize = 0x1000;

QString modeName(flash::Mode mode)
{
    switch (mode) {
    case flash::Mode::keep:
        return u"keep"_s;
    case flash::Mode::qio:
        return u"qio"_s;
    case flash::Mode::qout:
        return u"qout"_s;
    case flash::Mode::dio:
        return u"dio"_s;
    case flash::Mode::dout:
        return u"dout"_s;
    }
    return {};
}

QString frequencyName(flash::Frequency frequency)
{
    switch (frequency) {
    case flash::Frequency::keep:
        return u"keep"_s;
    case flash::Frequency::mhz80:
        return u"80m"_s;
    case flash::Frequency::mhz40:
        return u"40m"_s;
    case flash::Frequency::mhz26:
        return u"26m"_s;
    case flash::Frequency::mhz20:
        return u"20m"_s;
    }
    return {};
}

QString sizeText(const FlashSizeChoice& size)
{
    switch (size.kind) {
    case FlashSizeChoice::Kind::detect:
        return u"detect"_s;
    case FlashSizeChoice::Kind::keep:
        return u"keep"_s;
    case FlashSizeChoice::Kind::fixed:
        return flash::sizeName(size.bytes);
    }
    return {};
}

// Every setting spelled out, values attached with "=" or placed after "--" so that none of them
// can pass for an option.
QStringList writtenOut(const Invocation& run)
{
    QStringList arguments{
        u"--port="_s + run.port,
        u"--baud"_s,
        QString::number(run.session.baud),
        u"--before"_s,
        run.session.before == BeforeReset::defaultReset ? u"default-reset"_s : u"no-reset"_s,
        u"--after"_s,
        run.after == AfterReset::hardReset ? u"hard-reset"_s : u"no-reset"_s,
    };
    if (run.command == Command::eraseFlash) {
        arguments << u"erase-flash"_s;
        return arguments;
    }
    arguments << u"write-flash"_s << (run.write.compress ? u"--compress"_s : u"--no-compress"_s)
              << u"--flash-mode"_s << modeName(run.write.mode) << u"--flash-freq"_s
              << frequencyName(run.write.frequency) << u"--flash-size"_s << sizeText(run.write.size)
              << u"--"_s;
    for (const esptool::cli::WriteItem& item : run.items)
        arguments << u"0x"_s + QString::number(item.address, 16) << item.file;
    return arguments;
}

void checkRun(const Invocation& run)
{
    fuzz::check(!run.port.isEmpty(), "a run has a port");
    fuzz::check(run.session.baud >= minimumBaud && run.session.baud <= maximumBaud,
                "the baud rate is in range");
    if (run.command == Command::eraseFlash) {
        fuzz::check(run.items.isEmpty(), "erase-flash writes nothing");
        return;
    }
    fuzz::check(!run.items.isEmpty(), "write-flash writes something");
    for (const esptool::cli::WriteItem& item : run.items) {
        fuzz::check(item.address % sectorSize == 0, "addresses are sector-aligned");
        fuzz::check(!item.file.isEmpty(), "file names are not empty");
    }

    const ParsedCommandLine again = esptool::cli::parseCommandLine(writtenOut(run));
    fuzz::check(again.action == ParsedCommandLine::Action::run, "the written-out run is accepted");
    const Invocation& second = again.invocation;
    fuzz::check(second.port == run.port && second.session.baud == run.session.baud &&
                    second.session.before == run.session.before && second.after == run.after &&
                    second.command == run.command && second.write == run.write &&
                    second.items == run.items,
                "the written-out run parses to the same run");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QStringList arguments = fuzz::nulSeparatedWords(fuzz::bytes(data, size));
    const ParsedCommandLine parsed = esptool::cli::parseCommandLine(arguments);

    const bool failed = parsed.action == ParsedCommandLine::Action::error;
    fuzz::check(failed != parsed.error.isEmpty(), "an error, and only an error, has a message");
    if (failed)
        fuzz::check(parsed.error.endsWith(u'.'), "the message is a sentence");
    if (parsed.action == ParsedCommandLine::Action::run)
        checkRun(parsed.invocation);
    return 0;
}
