#pragma once

#include "flash/EsptoolInstaller.h"
#include "flash/FlashResult.h"

#include <QLatin1StringView>
#include <QObject>
#include <QString>
#include <QStringList>

#include <optional>

namespace tavix {

// The flashing engine: runs the flasher against the board and publishes what the window shows.
// Lives on the main thread; every published property notifies on each assignment.
class ESPToolManager : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isRunning READ isRunning NOTIFY isRunningChanged)
    Q_PROPERTY(double flashProgress READ flashProgress NOTIFY flashProgressChanged)
    Q_PROPERTY(QString statusText READ statusText NOTIFY statusTextChanged)
    Q_PROPERTY(QString esptoolLog READ esptoolLog NOTIFY esptoolLogChanged)

public:
    // Base name of the firmware image among the resources; its type is "bin".
    static constexpr QLatin1StringView firmwareResourceName{"UIFlow-core2-Tavix-V2.2-0x0"};

    explicit ESPToolManager(QObject* parent = nullptr);
    explicit ESPToolManager(EsptoolEnvironment environment, QObject* parent = nullptr);

    bool isRunning() const { return m_isRunning; }
    // 0.0 to 1.0 for the current or last operation.
    double flashProgress() const { return m_flashProgress; }
    const QString& statusText() const { return m_statusText; }
    const QString& esptoolLog() const { return m_esptoolLog; }
    // "Flashing" or "Erasing" while an operation runs, empty otherwise.
    const QString& currentOperationName() const { return m_currentOperationName; }
    // Counts the times the log was replaced rather than appended to, so that a view can append
    // just the new text without comparing the whole log.
    quint64 esptoolLogResets() const { return m_esptoolLogResets; }

    // Writes the bundled image at 0x0. The completion gets the result once the flasher has ended,
    // or at once when something is missing.
    void flashFirmware(const QString& port, const QString& baud,
                       const FlashCompletion& completion = {});
    void eraseFlash(const QString& port, const QString& baud,
                    const FlashCompletion& completion = {});

    // The installed flasher's path, or nothing; with logFailures the reason goes into the log.
    std::optional<QString> prepareEsptool(bool logFailures);
    QString esptoolResourceName() const;
    std::optional<QString> locateResource(const QString& name, const QString& type = {}) const;

    // The steps of an operation, public so that they can be exercised one by one.
    void beginOperation(const QString& name);
    void finishOperation(bool success, const QString& message);
    void logCommandLine(const QString& executablePath, const QStringList& arguments);
    void runProcess(const QString& executablePath, const QStringList& arguments,
                    const QString& successMessage, const FlashCompletion& completion);
    void handleOutputChunk(const QString& chunk);
    void updateProgress(const QString& text);

    EsptoolInstaller& installer() { return m_installer; }

Q_SIGNALS:
    void isRunningChanged();
    void flashProgressChanged();
    void statusTextChanged();
    void esptoolLogChanged();

private:
    // Closes an operation that stopped before the flasher was started.
    void failBeforeLaunch(const QString& message, const FlashCompletion& completion);
    void setRunning(bool running);
    void setFlashProgress(double progress);
    void setStatusText(const QString& text);
    void resetLog();
    void appendToLog(const QString& text);

    bool m_isRunning = false;
    double m_flashProgress = 0.0;
    QString m_statusText;
    QString m_esptoolLog;
    QString m_currentOperationName;
    quint64 m_esptoolLogResets = 0;
    EsptoolInstaller m_installer;
};

}  // namespace tavix
