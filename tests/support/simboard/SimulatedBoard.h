#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>

// A simulated board for tests and benchmarks: esp32-sim running as a child process on a
// pseudo-terminal, its flash dumped and its figures written when it stops.
class SimulatedBoard
{
public:
    // The dump and the statistics go into folder.
    explicit SimulatedBoard(const QString& folder);
    ~SimulatedBoard();
    SimulatedBoard(const SimulatedBoard&) = delete;
    SimulatedBoard& operator=(const SimulatedBoard&) = delete;

    // Starts esp32-sim with these options and waits for its port (the pty, or its --link path);
    // false when it does not come up. Options that compare line rates say in the test's log when
    // they cannot work here.
    bool start(const QStringList& options = {});
    // Why these options depend on line rates that the simulator cannot learn on this system, or
    // empty: --check-baud and --lose-baud-change compare them, and a board that restarts into its
    // firmware (--restart-into) keeps printing at 115200, which the flasher reads or not by its
    // own rate. Under qemu-user 7.2 no rate above 38400 baud survives the emulated termios calls,
    // so the simulator takes the host to stay at the session's rate.
    static QString whyLineRateIsUnchecked(const QStringList& options);
    // The pseudo-terminal to give the flasher as its port.
    const QString& port() const { return m_port; }

    // Stops the simulator and returns the whole flash as it was left (empty on failure).
    QByteArray stop();
    // The figures the simulator wrote when it stopped.
    QJsonObject stats() const;

private:
    QProcess m_process;
    QString m_port;
    QString m_dumpPath;
    QString m_statsPath;
};
