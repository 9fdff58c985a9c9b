#pragma once

#include <QString>
#include <QStringList>

// Quoting for the command line echoed into the console log, so that a user can paste it into a
// POSIX shell and run exactly what the app ran.
namespace tavix::shell {

// The word itself when every code point is a Unicode letter, mark or number or one of
// "_+-=/:.,@"; otherwise the word in single quotes, each inner quote written as '\''.
// An empty word consists only of safe characters and is therefore written as nothing.
QString quoted(const QString& word);

// The quoted words joined with single spaces. A bare first word holding "=" would read as a
// variable assignment to a shell; the engine's first word is always the flasher's absolute path.
QString commandLine(const QStringList& words);

}  // namespace tavix::shell
