#include "flash/ESPToolManager.h"

#include "flash/EsptoolCommandLine.h"
#include "flash/EsptoolProcess.h"
#include "flash/ProgressParser.h"
#include "flash/ShellQuote.h"

#include <QPointer>

#include <cmath>

using namespace Qt::StringLiterals;

namespace tavix {

namespace {

void deliver(const FlashCompletion& completion, const FlashResult& result)
{
    if (completion)
        completion(result);
}

}  // namespace

ESPToolManager::ESPToolManager(QObject* parent)
    : ESPToolManager(EsptoolEnvironment::fromSystem(), parent)
{}

ESPToolManager::ESPToolManager(EsptoolEnvironment environment, QObject* parent)
    : QObject(parent)
    , m_statusText(u"Ready"_s)
    , m_installer(std::move(environment))
{}

// --- Operations ---------------------------------------------------------------------------

void ESPToolManager::flashFirmware(const QString& port, const QString& baud,
                                   const FlashCompletion& completion)
{
    beginOperation(u"Flashing"_s);

    // The image is looked for first, so that a missing image leaves the installed flasher alone.
    const std::optional<QString> image = locateResource(firmwareResourceName, u"bin"_s);
    if (!image) {
        failBeforeLaunch(u"Firmware file not found: "_s + firmwareResourceName + u".bin"_s,
                         completion);
        return;
    }
    const std::optional<QString> esptool = prepareEsptool(true);
    if (!esptool) {
        failBeforeLaunch(u"esptool executable not found: "_s + esptoolResourceName(), completion);
        return;
    }

    const QStringList arguments = commandline::flashArguments(port, baud, *image);
    appendToLog(u"Connecting to ESP32 and writing firmware...\n"_s);
    logCommandLine(*esptool, arguments);
    runProcess(*esptool, arguments, u"Flash completed successfully."_s, completion);
}

void ESPToolManager::eraseFlash(const QString& port, const QString& baud,
                                const FlashCompletion& completion)
{
    beginOperation(u"Erasing"_s);

    const std::optional<QString> esptool = prepareEsptool(true);
    if (!esptool) {
        failBeforeLaunch(u"esptool executable not found: "_s + esptoolResourceName(), completion);
        return;
    }

    const QStringList arguments = commandline::eraseArguments(port, baud);
    appendToLog(u"Connecting to ESP32 and erasing flash...\n"_s);
    logCommandLine(*esptool, arguments);
    runProcess(*esptool, arguments, u"Erase completed successfully."_s, completion);
}

void ESPToolManager::logCommandLine(const QString& executablePath, const QStringList& arguments)
{
    appendToLog(u"$ "_s + shell::commandLine(QStringList{executablePath} + arguments) + u"\n\n"_s);
}

void ESPToolManager::failBeforeLaunch(const QString& message, const FlashCompletion& completion)
{
    finishOperation(false, message);
    deliver(completion, FlashResult::failure(message));
}

// --- Opening and closing ------------------------------------------------------------------

void ESPToolManager::beginOperation(const QString& name)
{
    m_currentOperationName = name;
    setRunning(true);
    setFlashProgress(0.0);
    setStatusText(name + u"..."_s);
    resetLog();
}

void ESPToolManager::finishOperation(bool success, const QString& message)
{
    appendToLog(u'\n' + message + u'\n');
    m_currentOperationName.clear();
    setRunning(false);
    // A failed run keeps the fraction it reached, which tells how far it got.
    if (success)
        setFlashProgress(1.0);
    setStatusText(success ? u"Ready"_s : u"Failed"_s);
}

// --- Running the flasher ------------------------------------------------------------------

void ESPToolManager::runProcess(const QString& executablePath, const QStringList& arguments,
                                const QString& successMessage, const FlashCompletion& completion)
{
    // The run reaches the engine only weakly: the window may go away while the flasher runs,
    // and the completion is still owed to the caller.
    const QPointer<ESPToolManager> engine(this);
    auto* run = new EsptoolProcess(executablePath, arguments);

    connect(run, &EsptoolProcess::output, run, [engine](const QString& text) {
        if (engine)
            engine->handleOutputChunk(text);
    });
    connect(run, &EsptoolProcess::finished, run,
            [engine, successMessage, completion](const QString& rest, int status) {
                if (engine && !rest.isEmpty())
                    engine->handleOutputChunk(rest);
                if (status == 0) {
                    if (engine)
                        engine->finishOperation(true, successMessage);
                    deliver(completion, FlashResult::success());
                    return;
                }
                const QString message =
                    u"Operation failed with exit code "_s + QString::number(status) + u'.';
                if (engine)
                    engine->finishOperation(false, message);
                deliver(completion, FlashResult::failure(message));
            });

    if (const std::optional<QString> launchError = run->start()) {
        finishOperation(false, u"Failed to start esptool: "_s + *launchError);
        deliver(completion, FlashResult::failure(*launchError));
    }
}

void ESPToolManager::handleOutputChunk(const QString& chunk)
{
    appendToLog(chunk);
    updateProgress(chunk);
}

void ESPToolManager::updateProgress(const QString& text)
{
    const std::optional<double> percent = progress::firstPercentage(text);
    if (!percent)
        return;
    setFlashProgress(*percent / 100.0);
    if (!m_currentOperationName.isEmpty()) {
        const auto wholePercent = static_cast<int>(std::trunc(*percent));
        setStatusText(m_currentOperationName + u' ' + QString::number(wholePercent) + u'%');
    }
}

// --- The flasher's installation -----------------------------------------------------------

std::optional<QString> ESPToolManager::prepareEsptool(bool logFailures)
{
    EsptoolInstaller::Outcome outcome = m_installer.prepare();
    if (logFailures && !outcome.failureLine.isEmpty())
        appendToLog(outcome.failureLine);
    return outcome.path;
}

QString ESPToolManager::esptoolResourceName() const
{
    return m_installer.esptoolResourceName();
}

std::optional<QString> ESPToolManager::locateResource(const QString& name,
                                                      const QString& type) const
{
    return m_installer.locateResource(name, type);
}

// --- Published state ----------------------------------------------------------------------

void ESPToolManager::setRunning(bool running)
{
    m_isRunning = running;
    Q_EMIT isRunningChanged();
}

void ESPToolManager::setFlashProgress(double progress)
{
    m_flashProgress = progress;
    Q_EMIT flashProgressChanged();
}

void ESPToolManager::setStatusText(const QString& text)
{
    m_statusText = text;
    Q_EMIT statusTextChanged();
}

void ESPToolManager::resetLog()
{
    m_esptoolLog.clear();
    ++m_esptoolLogResets;
    Q_EMIT esptoolLogChanged();
}

void ESPToolManager::appendToLog(const QString& text)
{
    m_esptoolLog += text;
    Q_EMIT esptoolLogChanged();
}

}  // namespace tavix
