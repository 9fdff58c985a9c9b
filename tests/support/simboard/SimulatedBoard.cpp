#include "support/simboard/SimulatedBoard.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QJsonDocument>

#include <cstdlib>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int startTimeoutMs = 10'000;
constexpr int stopTimeoutMs = 30'000;

QByteArray contentOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The highest rate the app offers, set on a pty of our own: termios calls on the master act on
// the slave's settings, which the simulator reads.
bool ptyKeepsHighRates()
{
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0)
        return false;
    termios settings{};
    bool kept = ::tcgetattr(master, &settings) == 0 && ::cfsetospeed(&settings, B1500000) == 0 &&
                ::tcsetattr(master, TCSANOW, &settings) == 0;
    kept = kept && ::tcgetattr(master, &settings) == 0 && ::cfgetospeed(&settings) == B1500000;
    ::close(master);
    return kept;
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
    if (const QString why = whyLineRateIsUnchecked(options); !why.isEmpty())
        qInfo("%s", qPrintable(why));
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

QString SimulatedBoard::whyLineRateIsUnchecked(const QStringList& options)
{
    const bool dependsOnRates = options.contains(u"--check-baud"_s) ||
                                options.contains(u"--lose-baud-change"_s) ||
                                options.contains(u"--restart-into"_s);
    if (!dependsOnRates || ptyKeepsHighRates())
        return {};
    return u"the simulator cannot learn the flasher's line rate here: a pty does not keep a rate "
           "of 1500000 baud (qemu-user 7.2 drops every rate above 38400)"_s;
}
