#include "UiTestHarness.h"
#include "flash/ESPToolManager.h"
#include "serial/SerialPortManager.h"
#include "ui/ConsoleLogPanel.h"
#include "ui/ContentView.h"
#include "ui/ElidedLabel.h"
#include "ui/MainWindow.h"
#include "ui/ToolActionButton.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QPlainTextEdit>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QString portA = u"/dev/ttyUSB0"_s;
const QString portB = u"/dev/ttyUSB1"_s;

template <typename T>
T* child(const ContentView& view, const QString& name)
{
    return view.findChild<T*>(name);
}

}  // namespace

class TestContentView : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void startsWithTheDefaults();
    void selectsTheFirstPortWhenShown_data();
    void selectsTheFirstPortWhenShown();
    void enablesControlsByState();
    void selectsAgainAfterTheUserPickedTheEmptyEntry();
    void keepsTheSelectedPortWithItsNewDetails();
    void dropsAnUnpluggedPortThenSelectsAnother();
    void keepsTheSelectionWhileRunning();
    void handsTheSelectedPathAndBaudToTheEngine();
    void togglesTheConsole();
    void refreshesOnlyWhileShown();
    void namesEveryControlForAssistiveTechnology();
    void reachesEveryControlByKeyboard();

private:
    std::unique_ptr<UiTestHarness> m_harness;

    ContentView& view() const { return m_harness->view(); }
    QComboBox* portMenu() const { return child<QComboBox>(view(), u"portMenu"_s); }
    QComboBox* baudMenu() const { return child<QComboBox>(view(), u"baudMenu"_s); }
    QCheckBox* checkBox() const { return child<QCheckBox>(view(), u"consoleCheckBox"_s); }
    ToolActionButton* burn() const { return child<ToolActionButton>(view(), u"burnButton"_s); }
    ToolActionButton* erase() const { return child<ToolActionButton>(view(), u"eraseButton"_s); }
    QString selectedPath() const
    {
        return view().selectedPort() ? view().selectedPort()->path() : QString();
    }
    void show();
    void pickPortRow(int row);
};

void TestContentView::init()
{
    m_harness = std::make_unique<UiTestHarness>();
    FakeEsptoolHome::setPlan({});
}

void TestContentView::cleanup()
{
    m_harness.reset();
}

void TestContentView::show()
{
    m_harness->window().show();
    QVERIFY(QTest::qWaitForWindowExposed(&m_harness->window()));
}

void TestContentView::pickPortRow(int row)
{
    portMenu()->setCurrentIndex(row);
    Q_EMIT portMenu()->activated(row);
}

void TestContentView::startsWithTheDefaults()
{
    show();
    QCOMPARE(child<ElidedLabel>(view(), u"statusLabel"_s)->text(), u"Status: Ready"_s);
    QCOMPARE(view().selectedBaud(), u"1500000"_s);
    QCOMPARE(baudMenu()->currentText(), u"1500000"_s);
    QStringList rates;
    for (int i = 0; i < baudMenu()->count(); ++i)
        rates.append(baudMenu()->itemText(i));
    QCOMPARE(rates,
             (QStringList{u"115200"_s, u"230400"_s, u"460800"_s, u"921600"_s, u"1500000"_s}));
    QVERIFY(view().showConsoleLog());
    QVERIFY(checkBox()->isChecked());
    QVERIFY(child<ConsoleLogPanel>(view(), u"consoleLogPanel"_s));
}

void TestContentView::selectsTheFirstPortWhenShown_data()
{
    QTest::addColumn<QStringList>("plugged");
    QTest::addColumn<QString>("selected");
    QTest::newRow("two ports, listed by path") << QStringList{portB, portA} << portA;
    QTest::newRow("no ports") << QStringList{} << QString();
}

void TestContentView::selectsTheFirstPortWhenShown()
{
    QFETCH(QStringList, plugged);
    QFETCH(QString, selected);
    for (const QString& path : plugged)
        m_harness->plug(path, u"Silicon Labs"_s, u"CP2102"_s);
    show();

    QCOMPARE(selectedPath(), selected);
    QCOMPARE(portMenu()->count(), plugged.size() + 1);
    QCOMPARE(portMenu()->itemText(0), QString());
    if (selected.isEmpty()) {
        QCOMPARE(portMenu()->currentIndex(), 0);
    } else {
        QCOMPARE(portMenu()->currentText(), u"Silicon Labs CP2102 (%1)"_s.arg(selected));
        QCOMPARE(portMenu()->itemText(2), u"Silicon Labs CP2102 (%1)"_s.arg(portB));
    }
    QCOMPARE(burn()->isEnabled(), !selected.isEmpty());
    QCOMPARE(erase()->isEnabled(), !selected.isEmpty());
}

void TestContentView::enablesControlsByState()
{
    show();
    const auto enabled = [this] {
        return QList<bool>{portMenu()->isEnabled(), baudMenu()->isEnabled(),
                           checkBox()->isEnabled(), burn()->isEnabled(), erase()->isEnabled()};
    };
    QCOMPARE(enabled(), (QList<bool>{true, true, true, false, false}));  // no port

    m_harness->plug(portA, u"Silicon Labs"_s, u"CP2102"_s);
    view().refreshTick();
    QCOMPARE(enabled(), (QList<bool>{true, true, true, true, true}));  // ready

    view().espTool().beginOperation(u"Flashing"_s);
    QCOMPARE(enabled(), (QList<bool>{false, false, false, false, false}));  // running

    view().espTool().finishOperation(true, u"done"_s);
    QCOMPARE(enabled(), (QList<bool>{true, true, true, true, true}));
}

void TestContentView::selectsAgainAfterTheUserPickedTheEmptyEntry()
{
    m_harness->plug(portA, u"Silicon Labs"_s, u"CP2102"_s);
    m_harness->plug(portB, u"QinHeng"_s, u"CH340"_s, 0x1A86);
    show();
    pickPortRow(2);
    QCOMPARE(selectedPath(), portB);

    pickPortRow(0);
    QCOMPARE(selectedPath(), QString());
    QVERIFY(!burn()->isEnabled());

    view().refreshTick();
    QCOMPARE(selectedPath(), portA);
    QCOMPARE(portMenu()->currentIndex(), 1);
}

void TestContentView::keepsTheSelectedPortWithItsNewDetails()
{
    m_harness->plug(portA, u"Silicon Labs"_s, u"CP2102"_s);
    m_harness->plug(portB, u"QinHeng"_s, u"CH340"_s, 0x1A86);
    show();
    pickPortRow(2);

    m_harness->renameVendor(portB, u"WCH"_s);
    view().refreshTick();
    QCOMPARE(selectedPath(), portB);
    QCOMPARE(view().selectedPort()->vendor(), u"WCH"_s);
    QCOMPARE(portMenu()->currentText(), u"WCH CH340 (/dev/ttyUSB1)"_s);
}

void TestContentView::dropsAnUnpluggedPortThenSelectsAnother()
{
    m_harness->plug(portA, u"Silicon Labs"_s, u"CP2102"_s);
    m_harness->plug(portB, u"QinHeng"_s, u"CH340"_s, 0x1A86);
    show();
    pickPortRow(2);

    m_harness->unplug(portB);
    view().refreshTick();
    QCOMPARE(selectedPath(), QString());
    QCOMPARE(portMenu()->count(), 2);
    QVERIFY(!burn()->isEnabled());

    view().refreshTick();
    QCOMPARE(selectedPath(), portA);
}

void TestContentView::keepsTheSelectionWhileRunning()
{
    m_harness->plug(portA, u"Silicon Labs"_s, u"CP2102"_s);
    m_harness->plug(portB, u"QinHeng"_s, u"CH340"_s, 0x1A86);
    show();
    pickPortRow(2);

    view().espTool().beginOperation(u"Flashing"_s);
    m_harness->unplug(portB);
    view().refreshTick();
    view().refreshTick();
    QCOMPARE(selectedPath(), portB);
    QCOMPARE(portMenu()->count(), 2);  // the menu lists what is plugged in
    QCOMPARE(portMenu()->currentIndex(), 0);

    view().espTool().finishOperation(false, u"Operation failed with exit code 2."_s);
    QCOMPARE(selectedPath(), portB);  // the end of the run changes no selection
    view().refreshTick();
    QCOMPARE(selectedPath(), QString());
    view().refreshTick();
    QCOMPARE(selectedPath(), portA);
}

void TestContentView::handsTheSelectedPathAndBaudToTheEngine()
{
    const QString record =
        QDir(m_harness->home().environment().workingDirectory).filePath(u"args"_s);
    FakeEsptoolHome::setRecordFile(record);
    m_harness->plug(portA, u"Silicon Labs"_s, u"CP2102"_s);
    show();

    QTest::mouseClick(burn(), Qt::LeftButton);
    // The click only queues the flash: the engine starts after the click has been handled.
    QVERIFY(!view().espTool().isRunning());
    QTRY_VERIFY(view().espTool().isRunning());
    QTRY_VERIFY_WITH_TIMEOUT(!view().espTool().isRunning(), 20000);
    FakeEsptoolHome::setRecordFile({});

    const QStringList arguments = FakeEsptoolHome::recordedLines(record);
    QCOMPARE(arguments.mid(0, 6),
             (QStringList{u"--chip"_s, u"esp32"_s, u"--port"_s, portA, u"--baud"_s, u"1500000"_s}));
    QCOMPARE(arguments.at(10), u"write-flash"_s);
}

void TestContentView::togglesTheConsole()
{
    show();
    view().espTool().beginOperation(u"Flashing"_s);
    view().espTool().handleOutputChunk(u"first line\nsecond line\n"_s);
    view().espTool().finishOperation(true, u"Flash completed successfully."_s);
    QCOMPARE(m_harness->window().minimumSize(), QSize(900, 630));

    checkBox()->click();
    QVERIFY(!view().showConsoleLog());
    QVERIFY(!child<ConsoleLogPanel>(view(), u"consoleLogPanel"_s));
    QCOMPARE(view().minimumSizeHint(), QSize(356, 630));
    QTRY_COMPARE(m_harness->window().minimumSize(), QSize(356, 630));
    // In a window still 900 wide, the column stands in the middle.
    QCOMPARE(m_harness->window().width(), 900);
    QCOMPARE(view().findChild<QWidget*>(u"leftColumn"_s)->geometry().left(), (900 - 356) / 2);

    checkBox()->click();
    QTRY_COMPARE(m_harness->window().minimumSize(), QSize(900, 630));
    const auto* panel = child<ConsoleLogPanel>(view(), u"consoleLogPanel"_s);
    QVERIFY(panel);
    QCOMPARE(panel->logView()->toPlainText(), view().espTool().esptoolLog());
}

void TestContentView::refreshesOnlyWhileShown()
{
    QVERIFY(!view().isRefreshing());
    show();
    QVERIFY(view().isRefreshing());
    QCOMPARE(ContentView::refreshInterval, std::chrono::milliseconds(2000));
    m_harness->window().hide();
    QVERIFY(!view().isRefreshing());
}

void TestContentView::namesEveryControlForAssistiveTechnology()
{
    show();
    QCOMPARE(portMenu()->accessibleName(), u"Serial port"_s);
    QCOMPARE(baudMenu()->accessibleName(), u"Baud rate"_s);
    QCOMPARE(child<QPlainTextEdit>(view(), u"consoleLog"_s)->accessibleName(), u"Console log"_s);
    QCOMPARE(burn()->accessibleName(), u"Burn"_s);
    QCOMPARE(erase()->accessibleName(), u"Erase"_s);
    QCOMPARE(checkBox()->text(), u"Show Console Log"_s);
}

void TestContentView::reachesEveryControlByKeyboard()
{
    m_harness->plug(portA, u"Silicon Labs"_s, u"CP2102"_s);
    show();
    portMenu()->setFocus(Qt::TabFocusReason);
    QList<QWidget*> visited{QApplication::focusWidget()};
    for (int i = 0; i < 5; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited.append(QApplication::focusWidget());
    }
    QCOMPARE(visited, (QList<QWidget*>{portMenu(), baudMenu(), checkBox(), burn(), erase(),
                                       child<QPlainTextEdit>(view(), u"consoleLog"_s)}));
}

QTEST_MAIN(TestContentView)
#include "tst_contentview.moc"
