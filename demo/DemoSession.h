#pragma once

#include "demo/DemoOptions.h"
#include "demo/SimulatorProcess.h"
#include "flash/EsptoolEnvironment.h"

#include <QObject>
#include <QString>
#include <QTemporaryFile>

#include <memory>

namespace tavix {

class MainWindow;

// One demo: a simulated board started with the chosen fault, and the app's own window (its
// ContentView, engines, flasher and image) whose port menu lists the board beside the machine's
// real ports. Closing the window stops the board.
class DemoSession : public QObject
{
    Q_OBJECT

public:
    struct Setup
    {
        QString simulatorProgram;         // esp32-sim
        EsptoolEnvironment esptoolSetup;  // where the engine finds and installs the flasher
    };

    DemoSession(DemoOptions options, Setup setup);
    ~DemoSession() override;

    // Starts the board and makes the window, not yet shown; false with a message when the board
    // does not come up.
    bool start(QString* error);
    MainWindow& window() const { return *m_window; }
    const QString& boardPort() const { return m_board.port(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QStringList simulatorOptions(QString* error);

    DemoOptions m_options;
    Setup m_setup;
    SimulatorProcess m_board;
    // Reserves a unique name for a link that drops and returns; the simulator puts its link there.
    QTemporaryFile m_stablePath;
    std::unique_ptr<MainWindow> m_window;
};

}  // namespace tavix
