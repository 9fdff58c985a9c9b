#include "flash/EsptoolProcess.h"

#include <QProcessEnvironment>

using namespace Qt::StringLiterals;

namespace tavix {

EsptoolProcess::EsptoolProcess(const QString& executablePath, const QStringList& arguments)
{
    m_process.setProgram(executablePath);
    m_process.setArguments(arguments);
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    // The child reads nothing, but it keeps the app's standard input as any program would.
    m_process.setInputChannelMode(QProcess::ForwardedInputChannel);

    // A flasher started from a terminal-launched app would otherwise colour its output and
    // redraw its progress with escape sequences, which the log would show as clutter.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"NO_COLOR"_s, u"1"_s);
    m_process.setProcessEnvironment(environment);

    connect(&m_process, &QProcess::readyReadStandardOutput, this, &EsptoolProcess::readOutput);
    connect(&m_process, &QProcess::finished, this,
            [this](int exitCode, QProcess::ExitStatus) { handleFinished(exitCode); });
}

std::optional<QString> EsptoolProcess::start()
{
    m_process.start();
    // Waits only for exec() to succeed or fail, not for the child to do anything.
    if (m_process.waitForStarted(-1))
        return std::nullopt;
    QString reason = m_process.errorString();
    deleteLater();
    return reason;
}

void EsptoolProcess::readOutput()
{
    const QString text = m_decoder.decode(m_process.readAllStandardOutput());
    if (!text.isEmpty())
        Q_EMIT output(text);
}

void EsptoolProcess::handleFinished(int exitCode)
{
    // Qt reports the signal number as the exit code of a child that was killed.
    QString rest = m_decoder.decode(m_process.readAllStandardOutput());
    rest += m_decoder.finish();
    Q_EMIT finished(rest, exitCode);
    deleteLater();
}

}  // namespace tavix
