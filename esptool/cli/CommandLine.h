#pragma once

#include "flasher/Options.h"

#include <QList>
#include <QString>
#include <QStringList>

// The command line: global options, then a command and its options. Parsing is a pure function
// of the argument strings.
namespace esptool::cli {

struct WriteItem
{
    quint32 address = 0;
    QString file;

    friend bool operator==(const WriteItem&, const WriteItem&) = default;
};

enum class Command
{
    writeFlash,
    eraseFlash,
};

struct Invocation
{
    QString port;
    SessionSettings session;  // the rate, the reset before, the fall-back, --force
    AfterReset after = AfterReset::hardReset;
    Command command = Command::writeFlash;
    WriteSettings write;
    QList<WriteItem> items;
};

struct ParsedCommandLine
{
    enum class Action
    {
        run,
        help,
        version,
        error,
    };
    Action action = Action::error;
    Invocation invocation;
    QString error;  // for Error: what is wrong, one sentence
};

// `arguments` without the program name.
ParsedCommandLine parseCommandLine(const QStringList& arguments);

QString usageLine();
QString helpText();

}  // namespace esptool::cli
