#include "ui/ConsoleLogPanel.h"

#include <QFontInfo>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>

using namespace Qt::StringLiterals;

namespace {

QString lines(int count, const QString& prefix = u"line"_s)
{
    QString text;
    for (int i = 0; i < count; ++i)
        text += u"%1 %2\n"_s.arg(prefix).arg(i);
    return text;
}

}  // namespace

class TestConsoleLogPanel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void showsAnEmptyLogAsOneBlankLine();
    void opensAtTheTopOfTheLog();
    void appendsOnlyTheNewText();
    void followsTheEndAfterTheUserScrolledUp();
    void leavesTheViewAloneForASameLengthReplacement();
    void scrollsToTheEndOfAShorterLog();
    void keepsTheUsersSelectionWhileTextArrives();
    void wrapsLongLines();
    void usesAMonospacedTwelvePointFont();

private:
    std::unique_ptr<ConsoleLogPanel> m_panel;
    QPlainTextEdit* view() const { return m_panel->logView(); }
    QScrollBar* scrollBar() const { return view()->verticalScrollBar(); }
};

void TestConsoleLogPanel::init()
{
    m_panel = std::make_unique<ConsoleLogPanel>();
    m_panel->resize(600, 400);
    m_panel->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_panel.get()));
}

void TestConsoleLogPanel::cleanup()
{
    m_panel.reset();
}

void TestConsoleLogPanel::showsAnEmptyLogAsOneBlankLine()
{
    m_panel->showLog(QString(), 0);
    QCOMPARE(view()->document()->blockCount(), 1);
    QCOMPARE(view()->toPlainText(), QString());
    QVERIFY(view()->viewport()->height() > view()->fontMetrics().height());
}

void TestConsoleLogPanel::opensAtTheTopOfTheLog()
{
    m_panel->showLog(lines(300), 1);
    QVERIFY(scrollBar()->maximum() > 0);
    QCOMPARE(scrollBar()->value(), 0);
}

void TestConsoleLogPanel::appendsOnlyTheNewText()
{
    m_panel->showLog(u"Connecting...\n"_s, 1);
    QSignalSpy changes(view()->document(), &QTextDocument::contentsChange);
    m_panel->showLog(u"Connecting...\nChip is ESP32\n"_s, 1);

    QCOMPARE(view()->toPlainText(), u"Connecting...\nChip is ESP32\n"_s);
    QCOMPARE(changes.count(), 1);
    QCOMPARE(changes.first().at(0).toInt(), 14);  // inserted at the old end
    QCOMPARE(changes.first().at(1).toInt(), 0);   // nothing removed
}

void TestConsoleLogPanel::followsTheEndAfterTheUserScrolledUp()
{
    QString log = lines(300);
    m_panel->showLog(log, 1);
    log += u"Writing at 0x00010000... (12 %)\n"_s;
    m_panel->showLog(log, 1);
    QCOMPARE(scrollBar()->value(), scrollBar()->maximum());

    scrollBar()->setValue(10);
    log += u"Writing at 0x00011000... (13 %)\n"_s;
    m_panel->showLog(log, 1);
    QVERIFY(scrollBar()->maximum() > 10);
    QCOMPARE(scrollBar()->value(), scrollBar()->maximum());
}

void TestConsoleLogPanel::leavesTheViewAloneForASameLengthReplacement()
{
    const QString log = lines(300, u"aaaa"_s);
    m_panel->showLog(log, 1);
    m_panel->showLog(log + u"x"_s, 1);
    scrollBar()->setValue(40);

    const QString replacement = lines(300, u"bbbb"_s) + u"y"_s;
    m_panel->showLog(replacement, 2);
    QCOMPARE(view()->toPlainText(), replacement);
    QCOMPARE(scrollBar()->value(), 40);
}

void TestConsoleLogPanel::scrollsToTheEndOfAShorterLog()
{
    m_panel->showLog(lines(300), 1);
    m_panel->showLog(lines(301), 1);
    scrollBar()->setValue(5);

    const QString shorter = lines(150, u"next run"_s);
    m_panel->showLog(shorter, 2);
    QCOMPARE(view()->toPlainText(), shorter);
    QVERIFY(scrollBar()->maximum() > 5);
    QCOMPARE(scrollBar()->value(), scrollBar()->maximum());
}

void TestConsoleLogPanel::keepsTheUsersSelectionWhileTextArrives()
{
    m_panel->showLog(u"Chip is ESP32-D0WD-V3\n"_s, 1);
    QTextCursor selection = view()->textCursor();
    selection.setPosition(8);
    selection.setPosition(13, QTextCursor::KeepAnchor);
    view()->setTextCursor(selection);

    m_panel->showLog(u"Chip is ESP32-D0WD-V3\nMAC: 24:0a:c4:12:34:56\n"_s, 1);
    QCOMPARE(view()->textCursor().selectedText(), u"ESP32"_s);
}

void TestConsoleLogPanel::wrapsLongLines()
{
    m_panel->showLog(QString(2000, u'x') + u'\n', 1);
    QCOMPARE(view()->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    QCOMPARE(view()->horizontalScrollBar()->maximum(), 0);
    QVERIFY(view()->document()->firstBlock().layout()->lineCount() > 1);
    QCOMPARE(view()->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
}

void TestConsoleLogPanel::usesAMonospacedTwelvePointFont()
{
    QCOMPARE(view()->font().pointSizeF(), 12.0);
    QVERIFY(QFontInfo(view()->font()).fixedPitch());
    QVERIFY(view()->isReadOnly());
    QVERIFY(view()->textInteractionFlags().testFlag(Qt::TextSelectableByMouse));
}

QTEST_MAIN(TestConsoleLogPanel)
#include "tst_consolelogpanel.moc"
