#include "demo/SimulatorProcess.h"

#include <QDeadlineTimer>
#include <QFileInfo>

#include <chrono>
#include <utility>

using namespace Qt::StringLiterals;

namespace tavix {

namespace {

constexpr std::chrono::seconds startTimeout{10};
// Long enough to write a 16 MB dump.
constexpr std::chrono::seconds stopTimeout{10};

}  // namespace

SimulatorProcess::SimulatorProcess(QString program)
    : m_program(std::move(program))
{
    // Its complaints go to the demo's own standard error, where a user sees them.
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
}

SimulatorProcess::~SimulatorProcess()
{
    stop();
}

bool SimulatorProcess::start(const QStringList& options, QString* error)
{
    m_process.start(m_program, options + QStringList{u"--exit-with-stdin"_s});
    const QDeadlineTimer deadline(startTimeout);
    while (m_process.waitForStarted() && !m_process.canReadLine() && !deadline.hasExpired())
        m_process.waitForReadyRead(int(deadline.remainingTime()));
    m_port = QString::fromLocal8Bit(m_process.readLine()).trimmed();
    if (!m_port.isEmpty() && QFileInfo::exists(m_port))
        return true;
    *error =
        u"the simulated board (%1) did not come up: %2"_s.arg(m_program, m_process.errorString());
    stop();
    return false;
}

void SimulatorProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(int(std::chrono::milliseconds(stopTimeout).count()))) {
        m_process.kill();
        m_process.waitForFinished();
    }
}

}  // namespace tavix
