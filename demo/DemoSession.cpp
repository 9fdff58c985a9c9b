#include "demo/DemoSession.h"

#include "demo/DemoPortLister.h"
#include "flash/ESPToolManager.h"
#include "serial/SerialPortManager.h"
#include "ui/ContentView.h"
#include "ui/MainWindow.h"

#include <QEvent>
#include <QTimer>

#include <utility>

using namespace Qt::StringLiterals;

namespace tavix {

DemoSession::DemoSession(DemoOptions options, Setup setup)
    : m_options(std::move(options))
    , m_setup(std::move(setup))
    , m_board(m_setup.simulatorProgram)
    // The app lists only ports under /dev/, as a board's would be, and /dev/shm is the one
    // folder there that anybody may write to.
    , m_stablePath(u"/dev/shm/esp32-sim-XXXXXX"_s)
{}

// The window first: a flasher still running is ended with it, before its board goes away.
DemoSession::~DemoSession()
{
    m_window.reset();
    m_board.stop();
}

bool DemoSession::start(QString* error)
{
    const QStringList options = simulatorOptions(error);
    if (options.isEmpty() || !m_board.start(options, error))
        return false;
    auto lister = std::make_unique<DemoPortLister>(createPlatformPortLister(), m_board.port(),
                                                   !m_options.plugInSeconds);
    DemoPortLister* plugged = lister.get();
    auto* ports = new SerialPortManager(std::move(lister), u"/dev"_s);
    // Gone with the port manager that owns the lister.
    if (m_options.plugInSeconds) {
        QTimer::singleShot(std::chrono::seconds(*m_options.plugInSeconds), ports,
                           [plugged] { plugged->plugIn(); });
    }
    m_window = std::make_unique<MainWindow>(
        new ContentView(ports, new ESPToolManager(m_setup.esptoolSetup)));
    m_window->setWindowTitle(u"Tavix Flash Tool (demo)"_s);
    m_window->installEventFilter(this);
    return true;
}

QStringList DemoSession::simulatorOptions(QString* error)
{
    // Hears only frames at its own rate, as a UART does: a flasher that forgot to switch its side
    // of the line would fail here as on a board.
    QStringList options{u"--check-baud"_s};
    if (m_options.realTiming)
        options << u"--timing"_s;
    if (!m_options.dumpPath.isEmpty())
        options << u"--dump"_s << m_options.dumpPath;
    if (!m_options.fault)
        return options;
    options << m_options.fault->simulatorOptions;
    if (!m_options.fault->needsStablePath)
        return options;
    if (!m_stablePath.open()) {
        *error =
            u"cannot make a port for the fault under /dev/shm: "_s + m_stablePath.errorString();
        return {};
    }
    m_stablePath.close();
    return options << u"--link"_s << m_stablePath.fileName();
}

bool DemoSession::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_window.get() && event->type() == QEvent::Close)
        m_board.stop();
    return QObject::eventFilter(watched, event);
}

}  // namespace tavix
