#include "UiTestHarness.h"
#include "flash/ESPToolManager.h"
#include "ui/ContentView.h"
#include "ui/ElidedLabel.h"
#include "ui/MainWindow.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>

#include <functional>

using namespace Qt::StringLiterals;

namespace {

const QString portA = u"/dev/ttyUSB0"_s;
const QString portB = u"/dev/ttyUSB1"_s;

}  // namespace

class TestContentView : public QObject
{
    Q_OBJECT

    std::unique_ptr<UiTestHarness> m_harness;

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
    // The selected port (A, B, C or "-"), the port menu's row and its number of rows, and
    // whether the refresh timer runs.
    QString state() const
    {
        const std::optional<SerialPortInfo>& port = view().selectedPort();
        const QString name =
            port ? QString(QChar(u'A' + port->path().back().digitValue())) : u"-"_s;
        const bool refreshing = view().findChild<QTimer*>(u"refreshTimer"_s)->isActive();
        return name + QString::number(portMenu()->currentIndex()) + u'/' +
               QString::number(portMenu()->count()) + (refreshing ? u" on"_s : u" off"_s);
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

private Q_SLOTS:
    void init() { m_harness = std::make_unique<UiTestHarness>(); }

    // The flasher is installed as the window appears, without a word in the log, whether that
    // works or not; each operation prepares it again and reports problems then.
    void startsWithTheDefaults_data()
    {
        QTest::addColumn<bool>("installable");
        QTest::newRow("flasher installed") << true;
        QTest::newRow("flasher cannot be installed") << false;
    }
    void startsWithTheDefaults()
    {
        QFETCH(bool, installable);
        if (!installable) {
            // A file where its folder would go, as good as a read-only disk even for root.
            QFile blocker(QFileInfo(m_harness->home().toolDirectory()).path());
            QVERIFY(blocker.open(QIODevice::WriteOnly));
        }
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
        QCOMPARE(state(), u"-0/1 on"_s);  // no port to select
        QCOMPARE(enabled(), (QList<bool>{true, true, true, false, false}));
    }

    // Steps from "A and B plugged in, the window shown, B picked"; the state after each.
    void followsPortsAndWindow_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("after");

        QTest::newRow("the empty entry picked, then a tick")
            << QStringList{u"pick 0"_s, u"tick"_s} << QStringList{u"-0/3 on"_s, u"A1/3 on"_s};
        QTest::newRow("the selected port renamed")
            << QStringList{u"rename B"_s, u"tick"_s} << QStringList{u"B2/3 on"_s, u"B2/3 on"_s};
        QTest::newRow("unplugged while idle")
            << QStringList{u"unplug B"_s, u"tick"_s, u"tick"_s}
            << QStringList{u"B2/3 on"_s, u"-0/2 on"_s, u"A1/2 on"_s};
        QTest::newRow("unplugged while running")
            << QStringList{u"run"_s, u"unplug B"_s, u"tick"_s, u"finish"_s, u"tick"_s, u"tick"_s}
            << QStringList{u"B2/3 on"_s, u"B2/3 on"_s, u"B0/2 on"_s,
                           u"B0/2 on"_s, u"-0/2 on"_s, u"A1/2 on"_s};
        // A restore is no new appearance: nothing selects the first port again.
        QTest::newRow("minimised and restored")
            << QStringList{u"pick 0"_s, u"minimise"_s, u"restore"_s, u"hide"_s}
            << QStringList{u"-0/3 on"_s, u"-0/3 on"_s, u"-0/3 on"_s, u"-0/3 off"_s};
        for (const QString& menu : {u"portMenu"_s, u"baudMenu"_s}) {
            QTest::addRow("no tick under the open %s", qPrintable(menu))
                << QStringList{u"open "_s + menu, u"plug C"_s, u"tick"_s, u"close"_s, u"tick"_s}
                << QStringList{u"B2/3 on"_s, u"B2/3 on"_s, u"B2/3 on"_s, u"B2/3 on"_s,
                               u"B2/4 on"_s};
        }
    }
    void followsPortsAndWindow()
    {
        QFETCH(QStringList, steps);
        QFETCH(QStringList, after);
        plugBoth();
        show();
        QCOMPARE(state(), u"A1/3 on"_s);  // the first port in path order
        QCOMPARE(portMenu()->itemText(2), u"QinHeng CH340 (/dev/ttyUSB1)"_s);
        const auto* timer = view().findChild<QTimer*>(u"refreshTimer"_s);
        QCOMPARE(timer->interval(), 2000);
        QVERIFY(!timer->isSingleShot());
        pickPort(2);

        MainWindow& window = m_harness->window();
        QComboBox* open = nullptr;
        const auto openMenu = [&](const char* name) {
            return [&, name] { (open = child<QComboBox>(name))->showPopup(); };
        };
        const QHash<QString, std::function<void()>> actions{
            {u"pick 0"_s, [&] { pickPort(0); }},
            {u"tick"_s, [&] { view().refreshTick(); }},
            {u"unplug B"_s, [&] { m_harness->unplug(portB); }},
            {u"rename B"_s, [&] { m_harness->plug(portB, u"WCH"_s, u"CH340"_s, 0x1A86); }},
            {u"plug C"_s, [&] { m_harness->plug(u"/dev/ttyUSB2"_s, {}, {}, 0x303A); }},
            {u"run"_s, [&] { view().espTool().beginOperation(u"Flashing"_s); }},
            {u"finish"_s, [&] { view().espTool().finishOperation(false, u"Failed."_s); }},
            {u"minimise"_s, [&] { window.showMinimized(); }},
            {u"restore"_s, [&] { window.showNormal(); }},
            {u"hide"_s, [&] { window.hide(); }},
            {u"open portMenu"_s, openMenu("portMenu")},
            {u"open baudMenu"_s, openMenu("baudMenu")},
            {u"close"_s, [&] { std::exchange(open, nullptr)->hidePopup(); }},
        };
        QStringList seen;
        for (const QString& step : std::as_const(steps)) {
            actions.value(step)();
            QTRY_COMPARE(window.isMinimized(), step == u"minimise"_s);
            for (const QComboBox* menu : {portMenu(), child<QComboBox>("baudMenu")})
                QTRY_COMPARE(menu->view()->isVisible(), menu == open);
            seen.append(state());
        }
        QCOMPARE(seen, after);
        if (steps.contains(u"rename B"_s))
            QCOMPARE(portMenu()->currentText(), u"WCH CH340 (/dev/ttyUSB1)"_s);
    }

    // A click reaches the engine with the selected port and baud, and every control stays
    // disabled until the run ends.
    void runsWhatTheButtonSays_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("baud");
        QTest::addColumn<int>("exitStatus");
        QTest::newRow("Burn") << u"burnButton"_s << u"1500000"_s << 0;
        QTest::newRow("Erase at 115200") << u"eraseButton"_s << u"115200"_s << 0;
        QTest::newRow("Burn failing at 921600") << u"burnButton"_s << u"921600"_s << 2;
    }
    void runsWhatTheButtonSays()
    {
        QFETCH(QString, button);
        QFETCH(QString, baud);
        QFETCH(int, exitStatus);
        FakeEsptoolHome::setPlan({u"sleep 200"_s, u"exit %1"_s.arg(exitStatus)});
        const QString record =
            QDir(m_harness->home().environment().workingDirectory).filePath(u"args"_s);
        FakeEsptoolHome::setRecordFile(record);
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
        QCOMPARE(arguments.value(10),
                 button == u"burnButton"_s ? u"write-flash"_s : u"erase-flash"_s);
        QCOMPARE(status(), exitStatus == 0 ? u"Status: Ready"_s : u"Status: Failed"_s);
        QCOMPARE(enabled(), (QList<bool>{true, true, true, true, true}));
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
