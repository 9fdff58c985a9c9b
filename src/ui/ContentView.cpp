#include "ui/ContentView.h"

#include "flash/ESPToolManager.h"
#include "serial/SerialPortManager.h"
#include "ui/ConsoleLogPanel.h"
#include "ui/ElidedLabel.h"
#include "ui/Palette.h"
#include "ui/ToolActionButton.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QImageReader>
#include <QLabel>
#include <QPlainTextEdit>
#include <QShowEvent>
#include <QVBoxLayout>

#include <chrono>

using namespace Qt::StringLiterals;

namespace tavix {

namespace {

const QStringList baudRates = {u"115200"_s, u"230400"_s, u"460800"_s, u"921600"_s, u"1500000"_s};
constexpr int columnWidth = 356;
constexpr int minimumContentHeight = 630;
constexpr std::chrono::milliseconds refreshInterval{2000};
constexpr QSize titleFrame(240, 105);
constexpr int menuWidth = 240;
constexpr int menuLabelWidth = 54;
const QString noPortName = u"No port"_s;

void setTextStyle(QWidget* widget, qreal pointSize, QFont::Weight weight, const QColor& colour)
{
    QFont font = widget->font();
    font.setPointSizeF(pointSize);
    font.setWeight(weight);
    widget->setFont(font);
    // The disabled look keeps the style's greyed colour.
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Active, QPalette::WindowText, colour);
    palette.setColor(QPalette::Inactive, QPalette::WindowText, colour);
    widget->setPalette(palette);
}

void fillBackground(QWidget* widget, const QColor& colour)
{
    widget->setAutoFillBackground(true);
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, colour);
    widget->setPalette(palette);
}

QLabel* makeTitleImage(const std::optional<QString>& path, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setObjectName(u"titleImage"_s);
    // The logo says nothing but the app's name; a screen reader should say no less.
    label->setAccessibleName(u"Tavix Flash Tool"_s);
    label->setFixedSize(titleFrame);
    label->setAlignment(Qt::AlignCenter);
    if (!path)
        return label;
    QImageReader reader(*path);
    const QImage image = reader.read();
    if (image.isNull())
        return label;
    // Drawn at the screen's pixel density, so the logo stays sharp on high-density displays.
    const qreal ratio = label->devicePixelRatioF();
    QPixmap pixmap = QPixmap::fromImage(
        image.scaled(titleFrame * ratio, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    pixmap.setDevicePixelRatio(ratio);
    label->setPixmap(pixmap);
    return label;
}

// "COM:" or "Baud:" on the left, the menu on the right.
QHBoxLayout* makeMenuRow(const QString& title, QComboBox* menu, int bottomMargin, QWidget* parent)
{
    auto* label = new QLabel(title, parent);
    setTextStyle(label, 16, QFont::DemiBold, palette::primaryText());
    // At least the frame's width; a larger system font may need a little more, taken from the
    // flexible space, so that the label is never cut.
    label->setMinimumWidth(menuLabelWidth);
    label->setBuddy(menu);
    menu->setFixedWidth(menuWidth);

    auto* row = new QHBoxLayout;
    row->setSpacing(0);
    row->setContentsMargins(16, 0, 16, bottomMargin);
    row->addWidget(label, 0, Qt::AlignVCenter | Qt::AlignLeft);
    row->addItem(new QSpacerItem(8, 0, QSizePolicy::Expanding, QSizePolicy::Minimum));
    row->addWidget(menu, 0, Qt::AlignVCenter | Qt::AlignRight);
    return row;
}

QHBoxLayout* centred(QWidget* widget, const QMargins& margins)
{
    auto* row = new QHBoxLayout;
    row->setContentsMargins(margins);
    row->addStretch();
    row->addWidget(widget);
    row->addStretch();
    return row;
}

QHBoxLayout* padded(QWidget* widget, const QMargins& margins)
{
    auto* row = new QHBoxLayout;
    row->setContentsMargins(margins);
    row->addWidget(widget);
    return row;
}

}  // namespace

ContentView::ContentView(QWidget* parent)
    : ContentView(new SerialPortManager, new ESPToolManager, parent)
{}

ContentView::ContentView(SerialPortManager* serialManager, ESPToolManager* espTool, QWidget* parent)
    : QWidget(parent)
    , m_serialManager(serialManager)
    , m_espTool(espTool)
{
    m_serialManager->setParent(this);
    m_espTool->setParent(this);
    setObjectName(u"contentView"_s);
    fillBackground(this, palette::windowBackground());

    m_layout = new QHBoxLayout(this);
    m_layout->setSpacing(0);
    m_layout->setContentsMargins(0, 0, 0, 0);
    // The stretches take the spare width only while the console is hidden (the console panel
    // has the larger stretch factor), which centres the column in a wide window.
    m_layout->addStretch(0);
    m_layout->addWidget(buildLeftColumn());
    m_layout->addStretch(0);

    m_refreshTimer.setObjectName(u"refreshTimer"_s);
    m_refreshTimer.setInterval(refreshInterval);
    connect(&m_refreshTimer, &QTimer::timeout, this, &ContentView::refreshTick);

    connect(m_serialManager, &SerialPortManager::portsChanged, this, &ContentView::updatePortMenu);
    connect(m_serialManager, &SerialPortManager::portlessAdaptersChanged, this,
            &ContentView::updateConsoleHint);
    connect(m_serialManager, &SerialPortManager::systemDevicesChanged, this, [this] {
        if (m_refreshTimer.isActive())
            refreshTick();
    });
    connect(m_espTool, &ESPToolManager::isRunningChanged, this, &ContentView::updateEnabledState);
    connect(m_espTool, &ESPToolManager::isRunningChanged, this, &ContentView::updateConsoleHint);
    connect(m_espTool, &ESPToolManager::statusTextChanged, this, &ContentView::updateStatus);
    connect(m_espTool, &ESPToolManager::esptoolLogChanged, this, &ContentView::updateConsole);

    updateStatus();
    updateEnabledState();
    setShowConsoleLog(true);
}

QWidget* ContentView::buildLeftColumn()
{
    auto* column = new QWidget(this);
    column->setObjectName(u"leftColumn"_s);
    column->setFixedWidth(columnWidth);
    fillBackground(column, palette::panelBackground());

    m_portMenu = new QComboBox(column);
    m_portMenu->setObjectName(u"portMenu"_s);
    // On Linux a menu is read by the entry it shows, and by this name when that entry is the
    // empty one. The empty entry itself stays empty on screen.
    m_portMenu->setAccessibleName(noPortName);
    m_portMenu->setAccessibleDescription(
        u"Chooses the serial port of the board to write or erase"_s);
    m_portMenu->addItem(QString());
    m_portMenu->setItemData(0, noPortName, Qt::AccessibleTextRole);
    connect(m_portMenu, &QComboBox::activated, this, [this](int row) {
        selectPort(row > 0 && row <= m_menuPorts.size() ? std::optional(m_menuPorts.at(row - 1))
                                                        : std::nullopt);
    });

    m_baudMenu = new QComboBox(column);
    m_baudMenu->setObjectName(u"baudMenu"_s);
    m_baudMenu->setAccessibleName(u"Baud rate"_s);
    m_baudMenu->setAccessibleDescription(
        u"Chooses the speed of the serial line; a lower rate helps when flashing fails"_s);
    m_baudMenu->addItems(baudRates);
    m_baudMenu->setCurrentText(m_selectedBaud);
    connect(m_baudMenu, &QComboBox::currentTextChanged, this,
            [this](const QString& rate) { m_selectedBaud = rate; });

    m_consoleCheckBox = new QCheckBox(u"Show Console Log"_s, column);
    m_consoleCheckBox->setObjectName(u"consoleCheckBox"_s);
    m_consoleCheckBox->setAccessibleDescription(
        u"Shows or hides the console log of everything the flasher printed"_s);
    setTextStyle(m_consoleCheckBox, 16, QFont::Medium, palette::primaryText());
    m_consoleCheckBox->setChecked(m_showConsoleLog);
    connect(m_consoleCheckBox, &QCheckBox::toggled, this, &ContentView::setShowConsoleLog);

    m_burnButton = new ToolActionButton(u"Burn"_s, column);
    m_burnButton->setObjectName(u"burnButton"_s);
    m_burnButton->setAccessibleDescription(
        u"Writes the firmware image to the board on the chosen port"_s);
    connect(m_burnButton, &ToolActionButton::clicked, this, &ContentView::burn);
    m_eraseButton = new ToolActionButton(u"Erase"_s, column);
    m_eraseButton->setObjectName(u"eraseButton"_s);
    m_eraseButton->setAccessibleDescription(
        u"Erases the whole flash of the board on the chosen port"_s);
    connect(m_eraseButton, &ToolActionButton::clicked, this, &ContentView::erase);

    m_statusLabel = new ElidedLabel(column);
    m_statusLabel->setObjectName(u"statusLabel"_s);
    // A status role, so that a screen reader finds it as the window's status and announces
    // its changes.
    m_statusLabel->setAccessibleRole(QAccessible::StatusBar);
    m_statusLabel->setAccessibleDescription(
        u"What the flasher is doing, or how its last operation ended"_s);
    setTextStyle(m_statusLabel, 10, QFont::Medium, palette::secondaryText());

    auto* layout = new QVBoxLayout(column);
    layout->setSpacing(0);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(centred(
        makeTitleImage(m_espTool->locateResource(u"title"_s, u"png"_s), column), {0, 88, 0, 18}));
    layout->addLayout(makeMenuRow(u"COM:"_s, m_portMenu, 14, column));
    layout->addLayout(makeMenuRow(u"Baud:"_s, m_baudMenu, 20, column));
    layout->addLayout(centred(m_consoleCheckBox, {0, 0, 0, 24}));
    layout->addLayout(padded(m_burnButton, {16, 0, 16, 20}));
    layout->addLayout(padded(m_eraseButton, {16, 0, 16, 0}));
    layout->addLayout(centred(m_statusLabel, {0, 20, 0, 0}));
    layout->addItem(new QSpacerItem(0, 40, QSizePolicy::Minimum, QSizePolicy::Expanding));

    setTabOrder(m_portMenu, m_baudMenu);
    setTabOrder(m_baudMenu, m_consoleCheckBox);
    setTabOrder(m_consoleCheckBox, m_burnButton);
    setTabOrder(m_burnButton, m_eraseButton);
    return column;
}

void ContentView::setShowConsoleLog(bool show)
{
    m_showConsoleLog = show;
    if (m_consoleCheckBox->isChecked() != show)
        m_consoleCheckBox->setChecked(show);
    if (show && !m_consolePanel) {
        m_consolePanel = new ConsoleLogPanel(this);
        m_layout->insertWidget(2, m_consolePanel, 1);
        m_consolePanel->showLog(m_espTool->esptoolLog(), m_espTool->esptoolLogResets());
        updateConsoleHint();
        setTabOrder(m_eraseButton, m_consolePanel->logView());
    } else if (!show && m_consolePanel) {
        // Made anew when shown again, so that it opens on the whole log from its top.
        delete std::exchange(m_consolePanel, nullptr);
    }
    updateGeometry();
}

void ContentView::reloadPorts(bool autoSelect)
{
    m_serialManager->refreshPorts();
    if (m_espTool->isRunning() || m_startPending)
        return;

    const QList<SerialPortInfo> ports = m_serialManager->ports();
    if (m_selectedPort) {
        const auto listed = std::find(ports.cbegin(), ports.cend(), *m_selectedPort);
        if (listed != ports.cend()) {
            selectPort(*listed);
            return;
        }
    }
    selectPort(autoSelect && !ports.isEmpty() ? std::optional(ports.first()) : std::nullopt);
}

QSize ContentView::minimumSizeHint() const
{
    return QWidget::minimumSizeHint().expandedTo(QSize(0, minimumContentHeight));
}

void ContentView::refreshTick()
{
    if (m_portMenu->view()->isVisible() || m_baudMenu->view()->isVisible())
        return;
    reloadPorts(!m_selectedPort);
}

void ContentView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Qt hides and shows a window's widgets when it is minimised and restored, with spontaneous
    // events; the refresh goes on meanwhile, and a restore is no new appearance.
    if (event->spontaneous())
        return;
    // Installs the flasher early; every operation prepares it again and reports problems then.
    m_espTool->prepareEsptool(false);
    reloadPorts(true);
    m_refreshTimer.start();
}

void ContentView::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    if (event->spontaneous())
        return;
    m_refreshTimer.stop();
}

void ContentView::selectPort(std::optional<SerialPortInfo> port)
{
    m_selectedPort = std::move(port);
    updatePortMenu();
    updateEnabledState();
}

void ContentView::updatePortMenu()
{
    const QList<SerialPortInfo> ports = m_serialManager->ports();
    const auto sameRows = [&] {
        if (ports.size() != m_menuPorts.size())
            return false;
        for (qsizetype i = 0; i < ports.size(); ++i) {
            if (ports[i].displayName() != m_menuPorts[i].displayName() ||
                ports[i] != m_menuPorts[i])
                return false;
        }
        return true;
    };
    if (!sameRows()) {
        const QSignalBlocker blocker(m_portMenu);
        while (m_portMenu->count() > 1)
            m_portMenu->removeItem(1);
        for (const SerialPortInfo& port : ports)
            m_portMenu->addItem(port.displayName(), port.id());
        m_menuPorts = ports;
    }
    // A selected port that is no longer listed (unplugged during an operation) shows as the
    // empty row until the next reload lets go of it.
    const qsizetype row = m_selectedPort ? m_menuPorts.indexOf(*m_selectedPort) + 1 : 0;
    m_portMenu->setCurrentIndex(int(row));
}

void ContentView::updateEnabledState()
{
    const bool busy = m_espTool->isRunning() || m_startPending;
    m_portMenu->setEnabled(!busy);
    m_baudMenu->setEnabled(!busy);
    m_consoleCheckBox->setEnabled(!busy);
    const bool canAct = m_selectedPort.has_value() && !busy;
    m_burnButton->setEnabled(canAct);
    m_eraseButton->setEnabled(canAct);
}

void ContentView::updateStatus()
{
    m_statusLabel->setText(u"Status: "_s + m_espTool->statusText());
}

void ContentView::updateConsole()
{
    if (m_consolePanel)
        m_consolePanel->showLog(m_espTool->esptoolLog(), m_espTool->esptoolLogResets());
}

void ContentView::updateConsoleHint()
{
    // The window's own words, not the engine's: they never enter the log, and an operation
    // takes the console over while it runs.
    if (m_consolePanel) {
        m_consolePanel->setHint(m_espTool->isRunning()
                                    ? QString()
                                    : portlessAdaptersHint(m_serialManager->portlessAdapters()));
    }
}

void ContentView::burn()
{
    startOnce(
        [this](const QString& port, const QString& baud) { m_espTool->flashFirmware(port, baud); });
}

void ContentView::erase()
{
    startOnce(
        [this](const QString& port, const QString& baud) { m_espTool->eraseFlash(port, baud); });
}

void ContentView::startOnce(const std::function<void(const QString&, const QString&)>& start)
{
    if (!m_selectedPort || m_startPending || m_espTool->isRunning())
        return;
    // The port and rate are taken now; the operation starts once this click has been handled.
    const QString port = m_selectedPort->path();
    const QString baud = m_selectedBaud;
    m_startPending = true;
    updateEnabledState();
    QMetaObject::invokeMethod(
        this,
        [this, start, port, baud] {
            m_startPending = false;
            start(port, baud);
            updateEnabledState();
        },
        Qt::QueuedConnection);
}

}  // namespace tavix
