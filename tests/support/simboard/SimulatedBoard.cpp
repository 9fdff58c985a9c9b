#include "SimulatedBoard.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QJsonDocument>

using namespace Qt::StringLiterals;

namespace {

constexpr int startTimeoutMs = 10'000;
constexpr int stopTimeoutMs = 30'000;

QByteArray contentOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

SimulatedBoard::SimulatedBoard(const QString& folder)
    : m_dumpPath(folder + u"/flash.bin"_s)
    , m_statsPath(folder + u"/stats.json"_s)
{}

SimulatedBoard::~SimulatedBoard()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished();
    }
}

bool SimulatedBoard::start(const QStringList& options)
{
    QFile::remove(m_dumpPath);
    QFile::remove(m_statsPath);
    m_process.start(QStringLiteral(ESP32SIM_BINARY),
                    options + QStringList{u"--dump"_s, m_dumpPath, u"--stats"_s, m_statsPath});
    if (!m_process.waitForStarted())
        return false;
    // The first line is the port; nothing is sent to it before the simulator has printed it.
    const QDeadlineTimer deadline(startTimeoutMs);
    while (!m_process.canReadLine() && !deadline.hasExpired())
        m_process.waitForReadyRead(int(deadline.remainingTime()));
    m_port = QString::fromUtf8(m_process.readLine()).trimmed();
    return QFile::exists(m_port);
}

QByteArray SimulatedBoard::stop()
{
    m_process.terminate();
    if (!m_process.waitForFinished(stopTimeoutMs))
        return {};
    return contentOf(m_dumpPath);
}

QJsonObject SimulatedBoard::stats() const
{
    return QJsonDocument::fromJson(contentOf(m_statsPath)).object();
}
