#pragma once

#include "serial/SerialPortInfo.h"

#include <QList>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <optional>

class QCheckBox;
class QComboBox;
class QHBoxLayout;

namespace tavix {

class ConsoleLogPanel;
class ElidedLabel;
class ESPToolManager;
class SerialPortManager;
class ToolActionButton;

// The content of the app's one window: the port and baud menus, the console checkbox, "Burn" and
// "Erase", the status line and, while the checkbox is on, the console log. It owns the two
// engines and renders what they publish; it holds no flashing logic of its own.
class ContentView : public QWidget
{
    Q_OBJECT

public:
    explicit ContentView(QWidget* parent = nullptr);
    // Takes ownership of both engines; tests pass engines built on fakes.
    ContentView(SerialPortManager* serialManager, ESPToolManager* espTool,
                QWidget* parent = nullptr);

    SerialPortManager& serialManager() const { return *m_serialManager; }
    ESPToolManager& espTool() const { return *m_espTool; }
    const std::optional<SerialPortInfo>& selectedPort() const { return m_selectedPort; }

    void setShowConsoleLog(bool show);
    // Rescans and keeps the selection consistent with the new list: a listed port stays selected
    // (with its new details); otherwise the first port is taken when autoSelect, none when not.
    // While an operation runs, or a click has queued one, the selection is left alone.
    void reloadPorts(bool autoSelect);
    // One firing of the refresh timer: skipped while a menu is open, so that no list changes under
    // the user's pointer. The system's news of a plug-in or unplug brings one at once, under the
    // same rules, while the window is shown.
    void refreshTick();

    // 900 × 630 with the console, 356 × 630 without: the window never gets smaller.
    QSize minimumSizeHint() const override;

protected:
    // The window appearing and disappearing; minimising and restoring do not count.
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QWidget* buildLeftColumn();
    void selectPort(std::optional<SerialPortInfo> port);
    void updatePortMenu();
    void updateEnabledState();
    void updateStatus();
    void updateConsole();
    void updateConsoleHint();
    void burn();
    void erase();
    // Runs start once this click has been handled, unless an operation runs or is about to.
    void startOnce(const std::function<void(const QString& port, const QString& baud)>& start);

    SerialPortManager* m_serialManager;
    ESPToolManager* m_espTool;
    std::optional<SerialPortInfo> m_selectedPort;
    QString m_selectedBaud = QStringLiteral("1500000");
    bool m_showConsoleLog = true;
    // A click has queued an operation that has not begun: the controls are off as while one
    // runs, so that a second click handled before it cannot start another on the same port.
    bool m_startPending = false;
    // A child, "refreshTimer", repeating every 2 seconds while the window is on screen.
    QTimer m_refreshTimer{this};

    QHBoxLayout* m_layout = nullptr;
    QComboBox* m_portMenu = nullptr;
    QComboBox* m_baudMenu = nullptr;
    QCheckBox* m_consoleCheckBox = nullptr;
    ToolActionButton* m_burnButton = nullptr;
    ToolActionButton* m_eraseButton = nullptr;
    ElidedLabel* m_statusLabel = nullptr;
    ConsoleLogPanel* m_consolePanel = nullptr;
    // The ports the menu's rows stand for, after the empty first row.
    QList<SerialPortInfo> m_menuPorts;
};

}  // namespace tavix
