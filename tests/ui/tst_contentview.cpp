#include "flash/ESPToolManager.h"
#include "serial/SerialPortManager.h"
#include "ui/AccessibilitySwitch.h"
#include "ui/ContentView.h"
#include "ui/ElidedLabel.h"
#include "ui/MainWindow.h"
#include "ui/UiTestHarness.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <functional>

using namespace Qt::StringLiterals;

using tavix::ContentView;
using tavix::ElidedLabel;
using tavix::ESPToolManager;
using tavix::MainWindow;
using tavix::PortlessAdapter;
using tavix::SerialPortInfo;
using tavix::SerialPortManager;

class TestContentView;
// Something that happens to the window, for tables of what follows from it.
using Happening = std::function<void(TestContentView&)>;

namespace {

// What the window shows of its ports and itself: the selected port's path (empty for none), the
// closed port menu's text and its number of rows, whether the refresh timer runs, whether the
// window is minimised, and which menu is open (its object name; empty for none).
struct Shown
{
    QString selected = {};
    QString menuText = {};
    int rows = 0;
    bool refreshing = true;
    bool minimised = false;
    QString openMenu = {};

    friend bool operator==(const Shown&, const Shown&) = default;
};

char* toString(const Shown& shown)
{
    return QTest::toString(u"selected \"%1\", menu \"%2\" of %3 rows, refresh %4%5%6"_s.arg(
        shown.selected, shown.menuText, QString::number(shown.rows),
        shown.refreshing ? u"on"_s : u"off"_s, shown.minimised ? u", minimised"_s : QString(),
        shown.openMenu.isEmpty() ? QString() : u", "_s + shown.openMenu + u" open"_s));
}

// One step of a table and what the window shows after it.
struct Step
{
    Happening act;
    Shown after;
};

const QString portA = u"/dev/ttyUSB0"_s;
const QString portB = u"/dev/ttyUSB1"_s;
const QString rowA = u"Silicon Labs CP2102 (/dev/ttyUSB0)"_s;
const QString rowB = u"QinHeng CH340 (/dev/ttyUSB1)"_s;

// The names that accessibility events announced, object by object, in their order.
QList<std::pair<QString, QString>> announcedNames;
void recordNameChange(QAccessibleEvent* event)
{
    if (event->type() == QAccessible::NameChanged) {
        announcedNames.append(
            {event->object()->objectName(), event->accessibleInterface()->text(QAccessible::Name)});
    }
}

// Held by brltty, as Ubuntu's brltty holds CH340 adapters.
const PortlessAdapter heldCh340{.location = u"1-2"_s,
                                .vendorId = 0x1a86,
                                .productId = 0x7523,
                                .interfaceName = u"1-2:1.0"_s,
                                .expectedDriver = u"ch341"_s,
                                .boundDriver = u"usbfs"_s,
                                .claimedBy = u"brltty"_s,
                                .serviceRule = u"85-brltty.rules"_s};

}  // namespace

Q_DECLARE_METATYPE(Happening)
Q_DECLARE_METATYPE(Step)

class TestContentView : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<UiTestHarness> m_harness;
    std::chrono::milliseconds m_now{0};

    ContentView& view() const { return m_harness->view(); }
    template <typename T = QWidget>
    T* child(const char* name) const
    {
        return view().findChild<T*>(QString::fromLatin1(name));
    }
    QComboBox* portMenu() const { return child<QComboBox>("portMenu"); }
    QString status() const { return child<ElidedLabel>("statusLabel")->text(); }
    QString logShown() const { return child<QPlainTextEdit>("consoleLog")->toPlainText(); }
    QList<bool> enabled() const
    {
        QList<bool> states;
        for (const char* name :
             {"portMenu", "baudMenu", "consoleCheckBox", "burnButton", "eraseButton"})
            states.append(child(name)->isEnabled());
        return states;
    }
    QTimer* refreshTimer() const { return view().findChild<QTimer*>(u"refreshTimer"_s); }
    Shown shown() const
    {
        QString openMenu;
        for (const char* name : {"portMenu", "baudMenu"}) {
            if (child<QComboBox>(name)->view()->isVisible())
                openMenu = QString::fromLatin1(name);
        }
        return {selectedPath(),
                portMenu()->currentText(),
                portMenu()->count(),
                refreshTimer()->isActive(),
                m_harness->window().isMinimized(),
                openMenu};
    }
    void plugBoth()
    {
        m_harness->plug(portB, u"QinHeng"_s, u"CH340"_s, 0x1A86);
        m_harness->plug(portA, u"Silicon Labs"_s, u"CP2102"_s);
    }
    void show()
    {
        m_harness->window().show();
        QVERIFY(QTest::qWaitForWindowExposed(&m_harness->window()));
    }
    void pickPort(int row)
    {
        portMenu()->setCurrentIndex(row);
        Q_EMIT portMenu()->activated(row);
    }
    // Has the fake flasher write its arguments to a file, whose path it returns.
    QString recordArguments() const
    {
        QString record = QDir(m_harness->home().environment().workingDirectory).filePath(u"args"_s);
        FakeEsptoolHome::setRecordFile(record);
        return record;
    }
    QString selectedPath() const
    {
        return view().selectedPort() ? view().selectedPort()->path() : QString();
    }
    QStringList menuRows() const
    {
        QStringList rows;
        for (int i = 0; i < portMenu()->count(); ++i)
            rows.append(portMenu()->itemText(i));
        return rows;
    }
    // A refresh a second after the last: an adapter without a port seen in both is told of.
    void refreshOneSecondLater()
    {
        m_now += std::chrono::seconds(1);
        view().reloadPorts(!view().selectedPort());
    }

private Q_SLOTS:
    void init()
    {
        m_harness = std::make_unique<UiTestHarness>();
        m_now = {};
        view().serialManager().setClock(
            [this] { return tavix::SettledAdapters::Clock::time_point(m_now); });
    }

    // The flasher is installed as the window appears, without a word in the log, whether that
    // works or not; each operation prepares it again and reports problems then.
    void startsWithTheDefaults_data()
    {
        QTest::addColumn<Happening>("before");
        QTest::addColumn<bool>("installable");
        QTest::newRow("flasher installed") << Happening([](TestContentView&) {}) << true;
        QTest::newRow("flasher cannot be installed") << Happening([](TestContentView& test) {
            // A file where its folder would go, as good as a read-only disk even for root.
            QFile blocker(QFileInfo(test.m_harness->home().toolDirectory()).path());
            QVERIFY(blocker.open(QIODevice::WriteOnly));
        }) << false;
    }
    void startsWithTheDefaults()
    {
        QFETCH(Happening, before);
        QFETCH(bool, installable);
        before(*this);
        show();
        QCOMPARE(QFileInfo(m_harness->home().installedEsptoolPath()).isExecutable(), installable);
        QCOMPARE(view().espTool().esptoolLog(), QString());
        QCOMPARE(status(), u"Status: Ready"_s);

        auto* baudMenu = child<QComboBox>("baudMenu");
        QStringList rates;
        for (int i = 0; i < baudMenu->count(); ++i)
            rates.append(baudMenu->itemText(i));
        QCOMPARE(rates,
                 (QStringList{u"115200"_s, u"230400"_s, u"460800"_s, u"921600"_s, u"1500000"_s}));
        QCOMPARE(baudMenu->currentText(), u"1500000"_s);
        QCOMPARE(shown(), (Shown{{}, {}, 1}));  // no port to select
        QCOMPARE(enabled(), (QList<bool>{true, true, true, false, false}));
    }

    // Steps from "A and B plugged in, the window shown, B picked", and what shows after each.
    void followsPortsAndWindow_data()
    {
        QTest::addColumn<QList<Step>>("steps");

        const Happening pickNone = [](TestContentView& test) { test.pickPort(0); };
        const Happening tick = [](TestContentView& test) { test.view().refreshTick(); };
        const Happening unplugB = [](TestContentView& test) { test.m_harness->unplug(portB); };
        const Happening run = [](TestContentView& test) {
            test.view().espTool().beginOperation(u"Flashing"_s);
        };
        const Happening finish = [](TestContentView& test) {
            test.view().espTool().finishOperation(false, u"Failed."_s);
        };
        const Shown showsB{portB, rowB, 3};
        const Shown showsNone{{}, {}, 3};

        QTest::newRow("the empty entry picked, then a tick")
            << QList<Step>{{pickNone, showsNone}, {tick, {portA, rowA, 3}}};
        QTest::newRow("the selected port renamed")
            << QList<Step>{{[](TestContentView& test) {
                                test.m_harness->plug(portB, u"WCH"_s, u"CH340"_s, 0x1A86);
                            },
                            showsB},
                           {tick, {portB, u"WCH CH340 (/dev/ttyUSB1)"_s, 3}}};
        QTest::newRow("unplugged while idle")
            << QList<Step>{{unplugB, showsB}, {tick, {{}, {}, 2}}, {tick, {portA, rowA, 2}}};
        // The selection stays while the operation runs; the menu shows it as the empty row.
        QTest::newRow("unplugged while running")
            << QList<Step>{{run, showsB},          {unplugB, showsB},
                           {tick, {portB, {}, 2}}, {finish, {portB, {}, 2}},
                           {tick, {{}, {}, 2}},    {tick, {portA, rowA, 2}}};
        // A restore is no new appearance: nothing selects the first port again.
        QTest::newRow("minimised and restored") << QList<Step>{
            {pickNone, showsNone},
            {[](TestContentView& test) { test.m_harness->window().showMinimized(); },
             {.rows = 3, .minimised = true}},
            {[](TestContentView& test) { test.m_harness->window().showNormal(); }, showsNone},
            {[](TestContentView& test) { test.m_harness->window().hide(); },
             {.rows = 3, .refreshing = false}}};
        for (const char* menu : {"portMenu", "baudMenu"}) {
            const Shown underMenu{.selected = portB,
                                  .menuText = rowB,
                                  .rows = 3,
                                  .openMenu = QString::fromLatin1(menu)};
            QTest::addRow("no tick under the open %s", menu) << QList<Step>{
                {[menu](TestContentView& test) { test.child<QComboBox>(menu)->showPopup(); },
                 underMenu},
                {[](TestContentView& test) {
                     test.m_harness->plug(u"/dev/ttyUSB2"_s, {}, {}, 0x303A);
                 },
                 underMenu},
                {tick, underMenu},
                {[menu](TestContentView& test) { test.child<QComboBox>(menu)->hidePopup(); },
                 showsB},
                {tick, {portB, rowB, 4}}};
        }
    }
    void followsPortsAndWindow()
    {
        QFETCH(QList<Step>, steps);
        plugBoth();
        show();
        QCOMPARE(shown(), (Shown{portA, rowA, 3}));  // the first port in path order
        pickPort(2);
        QCOMPARE(shown(), (Shown{portB, rowB, 3}));
        for (const Step& step : std::as_const(steps)) {
            step.act(*this);
            // Minimising, restoring and opening a menu take effect a little later.
            QTRY_COMPARE(shown(), step.after);
        }
    }

    // The timer's firing rescans: a port that came without udev's news shows up by it.
    void refreshesEveryTwoSeconds()
    {
        m_harness->plug(portA, u"Silicon Labs"_s, u"CP2102"_s);
        show();
        QTimer* timer = refreshTimer();
        QVERIFY(timer->isActive());
        QCOMPARE(timer->intervalAsDuration(), std::chrono::milliseconds(2000));
        QVERIFY(!timer->isSingleShot());
        m_harness->plug(portB, u"QinHeng"_s, u"CH340"_s, 0x1A86);
        QCOMPARE(menuRows(), (QStringList{{}, rowA}));
        // As the timer itself fires it, without waiting two seconds for it.
        QVERIFY(QMetaObject::invokeMethod(timer, "timeout"));
        QCOMPARE(menuRows(), (QStringList{{}, rowA, rowB}));
    }

    // A click reaches the engine with the selected port and baud, and every control stays
    // disabled until the run ends.
    void runsWhatTheButtonSays_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("baud");
        QTest::addColumn<QString>("command");
        QTest::newRow("Burn") << u"burnButton"_s << u"1500000"_s << u"write-flash"_s;
        QTest::newRow("Erase at 115200") << u"eraseButton"_s << u"115200"_s << u"erase-flash"_s;
    }
    void runsWhatTheButtonSays()
    {
        QFETCH(QString, button);
        QFETCH(QString, baud);
        QFETCH(QString, command);
        FakeEsptoolHome::setPlan({u"sleep 200"_s});
        const QString record = recordArguments();
        plugBoth();
        show();
        child<QComboBox>("baudMenu")->setCurrentText(baud);

        QTest::mouseClick(child(button.toLatin1().constData()), Qt::LeftButton);
        // The click only queues the operation: it starts once the click has been handled.
        QVERIFY(!view().espTool().isRunning());
        QTRY_VERIFY(view().espTool().isRunning());
        QCOMPARE(enabled(), (QList<bool>{false, false, false, false, false}));
        QTRY_VERIFY_WITH_TIMEOUT(!view().espTool().isRunning(), 20000);
        FakeEsptoolHome::setRecordFile({});

        const QStringList arguments = FakeEsptoolHome::recordedLines(record);
        QCOMPARE(arguments.mid(0, 6),
                 (QStringList{u"--chip"_s, u"esp32"_s, u"--port"_s, portA, u"--baud"_s, baud}));
        QCOMPARE(arguments.value(10), command);
        QCOMPARE(status(), u"Status: Ready"_s);
        QCOMPARE(enabled(), (QList<bool>{true, true, true, true, true}));
    }

    // Two clicks handled together (a double click, or a busy event loop) start one operation, the
    // first's: every control is off from the first click on, before the operation has begun.
    void startsOneOperationForClicksHandledTogether()
    {
        FakeEsptoolHome::setPlan({u"sleep 200"_s});
        const QString record = recordArguments();
        plugBoth();
        show();
        ESPToolManager& engine = view().espTool();
        QSignalSpy runs(&engine, &ESPToolManager::isRunningChanged);

        QTest::mouseClick(child("eraseButton"), Qt::LeftButton);
        QCOMPARE(enabled(), (QList<bool>{false, false, false, false, false}));
        QVERIFY(!engine.isRunning());
        QTest::mouseClick(child("burnButton"), Qt::LeftButton);
        // A click already taken from the queue before the buttons went grey still reaches the
        // view: only the view's own guard stops it.
        Q_EMIT child<QAbstractButton>("burnButton")->clicked();
        QTRY_VERIFY_WITH_TIMEOUT(runs.count() >= 2 && !engine.isRunning(), 20000);
        FakeEsptoolHome::setRecordFile({});

        QCOMPARE(runs.count(), 2);  // on, then off: one operation
        QCOMPARE(engine.esptoolLogResets(), quint64(1));
        QCOMPARE(FakeEsptoolHome::recordedLines(record).value(10), u"erase-flash"_s);
        QCOMPARE(enabled(), (QList<bool>{true, true, true, true, true}));
    }

    // udev's news of a device that came or went (here: A unplugged, B plugged in) refreshes at
    // once as a tick of the refresh timer would, and not while the timer is off.
    void refreshesAsThePortsComeAndGo_data()
    {
        QTest::addColumn<Happening>("before");
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<QString>("selected");

        QTest::newRow("idle: the selection goes with its port")
            << Happening([](TestContentView&) {}) << QStringList{{}, rowB} << QString();
        QTest::newRow("window hidden: nothing refreshes")
            << Happening([](TestContentView& test) { test.m_harness->window().hide(); })
            << QStringList{{}, rowA} << portA;
    }
    void refreshesAsThePortsComeAndGo()
    {
        QFETCH(Happening, before);
        QFETCH(QStringList, rows);
        QFETCH(QString, selected);
        m_harness->plug(portA, u"Silicon Labs"_s, u"CP2102"_s);
        show();
        before(*this);
        m_harness->unplug(portA);
        m_harness->plug(portB, u"QinHeng"_s, u"CH340"_s, 0x1A86);
        QSignalSpy news(&view().serialManager(), &SerialPortManager::systemDevicesChanged);
        m_harness->announceDeviceChange();
        QVERIFY(news.wait());
        QCOMPARE(menuRows(), rows);
        QCOMPARE(selectedPath(), selected);
    }

    // An adapter without a port is told of in the console, below the log and apart from it,
    // while no operation runs.
    void tellsOfAnAdapterWithoutPort_data()
    {
        QTest::addColumn<Happening>("then");
        QTest::addColumn<bool>("told");

        QTest::newRow("left alone") << Happening([](TestContentView&) {}) << true;
        QTest::newRow("an operation runs") << Happening([](TestContentView& test) {
            test.view().espTool().beginOperation(u"Flashing"_s);
            test.view().espTool().handleOutputChunk(u"Connecting...\n"_s);
        }) << false;
        QTest::newRow("the operation has ended") << Happening([](TestContentView& test) {
            test.view().espTool().beginOperation(u"Flashing"_s);
            test.view().espTool().finishOperation(false, u"esptool exited with code 2."_s);
        }) << true;
        QTest::newRow("the adapter has its port now") << Happening([](TestContentView& test) {
            test.m_harness->setPortlessAdapters({});
            test.refreshOneSecondLater();
        }) << false;
    }
    void tellsOfAnAdapterWithoutPort()
    {
        QFETCH(Happening, then);
        QFETCH(bool, told);
        m_harness->setPortlessAdapters({heldCh340});
        show();
        QVERIFY(!logShown().contains(u"brltty"_s));  // not at first sight: its driver may bind
        refreshOneSecondLater();
        QCOMPARE(logShown(), heldCh340.hint());
        then(*this);
        QCOMPARE(logShown().contains(heldCh340.hint()), told);
        QVERIFY(logShown().startsWith(view().espTool().esptoolLog()));
        QVERIFY(!view().espTool().esptoolLog().contains(u"brltty"_s));
    }

    // What a screen reader finds: each control's role and name (its visible text, or what it
    // shows), and a description of what it does.
    void readsOutToAssistiveTechnology_data()
    {
        QTest::addColumn<QString>("object");
        QTest::addColumn<QAccessible::Role>("role");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("described");  // the window and the logo say no more than a name

        QTest::newRow("window") << u"main"_s << QAccessible::Window << u"Tavix Flash Tool"_s
                                << false;
        QTest::newRow("logo") << u"titleImage"_s << QAccessible::Graphic << u"Tavix Flash Tool"_s
                              << false;
        QTest::newRow("port menu")
            << u"portMenu"_s << QAccessible::ComboBox << u"No port"_s << true;
        QTest::newRow("baud menu")
            << u"baudMenu"_s << QAccessible::ComboBox << u"1500000"_s << true;
        QTest::newRow("checkbox") << u"consoleCheckBox"_s << QAccessible::CheckBox
                                  << u"Show Console Log"_s << true;
        QTest::newRow("Burn") << u"burnButton"_s << QAccessible::Button << u"Burn"_s << true;
        QTest::newRow("Erase") << u"eraseButton"_s << QAccessible::Button << u"Erase"_s << true;
        QTest::newRow("status") << u"statusLabel"_s << QAccessible::StatusBar << u"Status: Ready"_s
                                << true;
        QTest::newRow("console log")
            << u"consoleLog"_s << QAccessible::EditableText << u"Console log"_s << true;
    }
    void readsOutToAssistiveTechnology()
    {
        QFETCH(QString, object);
        QFETCH(QAccessible::Role, role);
        QFETCH(QString, name);
        QFETCH(bool, described);
        show();
        QWidgetList widgets = m_harness->window().findChildren<QWidget*>();
        widgets.append(&m_harness->window());
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(
            *std::find_if(widgets.cbegin(), widgets.cend(),
                          [&](QWidget* w) { return w->objectName() == object; }));
        QCOMPARE(accessible->role(), role);
        QCOMPARE(accessible->text(QAccessible::Name), name);
        QCOMPARE(!accessible->text(QAccessible::Description).isEmpty(), described);
    }

    // The empty entry keeps its empty look, and is read as "No port" in the open menu too.
    void namesTheEmptyPortEntry()
    {
        m_harness->plug(portA, u"Silicon Labs"_s, u"CP2102"_s);
        show();
        QAccessibleInterface* menu = QAccessible::queryAccessibleInterface(portMenu());
        QCOMPARE(menu->text(QAccessible::Name), u"Silicon Labs CP2102 (/dev/ttyUSB0)"_s);
        QAccessibleInterface* entries = menu->child(0);
        QCOMPARE(entries->child(0)->text(QAccessible::Name), u"No port"_s);
        QCOMPARE(portMenu()->itemText(0), QString());
        pickPort(0);
        QCOMPARE(menu->text(QAccessible::Name), u"No port"_s);
    }

    // Every change of the status line reaches assistive technology as a change of its name.
    void announcesTheStatus()
    {
        if (!switchAccessibilityOn())
            QSKIP("Built without Qt's private headers, which switch accessibility on here");
        show();
        announcedNames.clear();
        QAccessible::installUpdateHandler(recordNameChange);
        ESPToolManager& engine = view().espTool();
        engine.beginOperation(u"Flashing"_s);
        engine.handleOutputChunk(u"Writing at 0x00001000... (42 %)\n"_s);
        engine.finishOperation(true, u"Done."_s);
        QAccessible::installUpdateHandler(nullptr);
        const QString status = u"statusLabel"_s;
        QCOMPARE(announcedNames,
                 (QList<std::pair<QString, QString>>{{status, u"Status: Flashing..."_s},
                                                     {status, u"Status: Flashing 42%"_s},
                                                     {status, u"Status: Ready"_s}}));
    }

    void laysOutTheWindowAndTogglesTheConsole()
    {
        show();
        MainWindow& window = m_harness->window();
        QCOMPARE(window.windowTitle(), u"Tavix Flash Tool"_s);
        QCOMPARE(window.size(), QSize(900, 630));
        QCOMPARE(window.minimumSize(), QSize(900, 630));
        QCOMPARE(window.maximumSize(), QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
        // Where users see them: the column along the left edge, the console filling the rest,
        // the two buttons across the column one above the other, the status below them.
        const auto place = [this](const char* name) {
            return QRect(child(name)->mapTo(&view(), QPoint(0, 0)), child(name)->size());
        };
        QCOMPARE(place("leftColumn"), QRect(0, 0, 356, 630));
        QCOMPARE(place("consoleLogPanel"), QRect(356, 0, 544, 630));
        const QRect burn = place("burnButton");
        const QRect erase = place("eraseButton");
        QCOMPARE(burn, QRect(16, burn.top(), 324, 52));
        QCOMPARE(erase, QRect(16, erase.top(), 324, 52));
        QVERIFY(burn.bottom() < erase.top() && erase.bottom() < place("statusLabel").top());

        view().espTool().beginOperation(u"Flashing"_s);
        view().espTool().handleOutputChunk(u"Writing at 0x00001000... (42 %)\n"_s);
        // The status line and the log follow the run as it goes.
        QCOMPARE(status(), u"Status: Flashing 42%"_s);
        QCOMPARE(logShown(), view().espTool().esptoolLog());
        view().espTool().finishOperation(true, u"Flash completed successfully."_s);
        // A status wider than the column is cut at its end, never drawn past the column's edge.
        auto* label = child<ElidedLabel>("statusLabel");
        label->setText(u"Status: "_s + QString(300, u'x'));
        QVERIFY(label->shownText().endsWith(u'…'));
        QVERIFY(label->fontMetrics().horizontalAdvance(label->shownText()) <= label->width());

        auto* checkBox = child<QCheckBox>("consoleCheckBox");
        checkBox->click();
        QVERIFY(!child("consoleLogPanel"));
        QTRY_COMPARE(window.minimumSize(), QSize(356, 630));
        // In a window still 900 wide, the column stands in the middle.
        QCOMPARE(place("leftColumn"), QRect((900 - 356) / 2, 0, 356, 630));
        window.resize(300, 300);  // not below the content's minimum
        QTRY_COMPARE(window.size(), QSize(356, 630));

        checkBox->click();
        QTRY_COMPARE(window.size(), QSize(900, 630));
        QCOMPARE(logShown(), view().espTool().esptoolLog());
    }
};

QTEST_MAIN(TestContentView)
#include "tst_contentview.moc"
