#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

namespace tavix {

// esp32-sim as a child process. It leaves with this process however this one ends, a crash or
// SIGKILL included: its standard input is a pipe from here, and it stops when that closes.
class SimulatorProcess
{
public:
    explicit SimulatorProcess(QString program);
    ~SimulatorProcess();
    SimulatorProcess(const SimulatorProcess&) = delete;
    SimulatorProcess& operator=(const SimulatorProcess&) = delete;

    // Starts it with these options and waits for the port it prints; false with a message when
    // it does not come up.
    bool start(const QStringList& options, QString* error);
    const QString& port() const { return m_port; }
    // Asks it to stop (SIGTERM), upon which it writes its dump, and waits for it.
    void stop();

private:
    QString m_program;
    QProcess m_process;
    QString m_port;
};

}  // namespace tavix
