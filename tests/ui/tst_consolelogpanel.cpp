#include "ui/ConsoleLogPanel.h"

#include <QFontInfo>
#include <QPlainTextEdit>
#include <QScrollBar>
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

private:
    std::unique_ptr<tavix::ConsoleLogPanel> m_panel;
    QPlainTextEdit* view() const { return m_panel->logView(); }
    QScrollBar* scrollBar() const { return view()->verticalScrollBar(); }

private Q_SLOTS:
    void init()
    {
        m_panel = std::make_unique<tavix::ConsoleLogPanel>();
        m_panel->resize(600, 400);
        m_panel->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_panel.get()));
    }

    // The log opens at its top; from then on every change of its length brings the end into
    // view, wherever the user had scrolled, and a replacement of the same length stays put.
    void scrollsAsTheLogChanges_data()
    {
        QTest::addColumn<QString>("next");
        QTest::addColumn<quint64>("resets");
        QTest::addColumn<bool>("toTheEnd");

        QTest::newRow("output appended") << lines(300) + u"Writing... (12 %)\n"_s << 1ULL << true;
        QTest::newRow("replaced, same length") << lines(300, u"next"_s) << 2ULL << false;
        QTest::newRow("replaced, shorter") << lines(150, u"next run"_s) << 2ULL << true;
    }
    void scrollsAsTheLogChanges()
    {
        QFETCH(QString, next);
        QFETCH(quint64, resets);
        QFETCH(bool, toTheEnd);

        m_panel->showLog(lines(300), 1);
        QCOMPARE(scrollBar()->value(), 0);
        scrollBar()->setValue(40);

        m_panel->showLog(next, resets);
        QCOMPARE(view()->toPlainText(), next);
        QVERIFY(scrollBar()->maximum() > 40);
        QCOMPARE(scrollBar()->value(), toTheEnd ? scrollBar()->maximum() : 40);
    }

    // Which also shows that arriving output is appended rather than the whole text set again.
    void keepsTheUsersSelectionWhileTextArrives()
    {
        m_panel->showLog(u"Chip is ESP32-D0WD-V3\n"_s, 1);
        const auto at = [this](int position) {
            QTextCursor cursor(view()->document());
            cursor.setPosition(position);
            return view()->cursorRect(cursor).center();
        };
        QTest::mousePress(view()->viewport(), Qt::LeftButton, {}, at(8));
        QTest::mouseMove(view()->viewport(), at(13));
        QTest::mouseRelease(view()->viewport(), Qt::LeftButton, {}, at(13));
        QCOMPARE(view()->textCursor().selectedText(), u"ESP32"_s);

        m_panel->showLog(u"Chip is ESP32-D0WD-V3\nMAC: 24:0a:c4:12:34:56\n"_s, 1);
        QCOMPARE(view()->textCursor().selectedText(), u"ESP32"_s);
    }

    // An empty log still shows one line; long lines wrap; the font is monospaced, which users
    // see as narrow and wide letters taking the same room (Qt's fixedPitch() says no for some
    // fonts that are, Noto Sans Mono among them).
    void drawsTheLogAsUsersExpect()
    {
        m_panel->showLog(QString(), 0);
        QVERIFY(view()->viewport()->height() > view()->fontMetrics().height());
        m_panel->showLog(QString(2000, u'x') + u'\n', 1);
        QCOMPARE(view()->horizontalScrollBar()->maximum(), 0);
        QVERIFY(view()->document()->firstBlock().layout()->lineCount() > 1);

        const QFontMetricsF metrics(view()->font());
        QCOMPARE(metrics.horizontalAdvance(u"iiii"_s), metrics.horizontalAdvance(u"WWWW"_s));
        QCOMPARE(view()->font().pointSizeF(), 12.0);
        // tools/dev.sh names the font that each of its font configurations must bring.
        if (qEnvironmentVariableIsSet("TAVIX_MONOSPACE"))
            QCOMPARE(QFontInfo(view()->font()).family(), qEnvironmentVariable("TAVIX_MONOSPACE"));
    }
};

QTEST_MAIN(TestConsoleLogPanel)
#include "tst_consolelogpanel.moc"
