#pragma once

#include "flash/OutputDecoder.h"

#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <optional>

namespace tavix {

// One run of the flasher as a child process. Standard output and standard error share one
// channel, so the log shows them in the order the child wrote them.
//
// The object is not owned by the engine: a run outlives an engine that goes away meanwhile and
// still reports its end, then deletes itself.
class EsptoolProcess : public QObject
{
    Q_OBJECT

public:
    EsptoolProcess(const QString& executablePath, const QStringList& arguments);

    // Starts the child. On failure returns the system's description of why, and the object
    // deletes itself; on success, output() and then finished() follow.
    std::optional<QString> start();

Q_SIGNALS:
    // Decoded text, carriage returns turned into line feeds.
    void output(const QString& text);
    // The rest of the output (possibly empty) and the exit status: the exit code, or the number
    // of the signal that ended the child.
    void finished(const QString& rest, int status);

private:
    void readOutput();
    void handleFinished(int exitCode);

    QProcess m_process;
    OutputDecoder m_decoder;
};

}  // namespace tavix
