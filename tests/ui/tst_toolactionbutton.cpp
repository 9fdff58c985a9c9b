#include "ui/Palette.h"
#include "ui/ToolActionButton.h"

#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

using tavix::ToolActionButton;

class TestToolActionButton : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // The colours a user would pick from a screenshot of the button in the window's column: a
    // disabled button is drawn faded into the column, whether held down or not.
    void looksAsItsStateSays_data()
    {
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<bool>("pressed");
        QTest::addColumn<QColor>("fill");
        QTest::addColumn<QColor>("title");

        const QColor white(255, 255, 255);
        const QColor faded(233, 233, 231);
        QTest::newRow("enabled") << true << false << QColor(32, 111, 124) << white;
        QTest::newRow("pressed") << true << true << QColor(23, 89, 101) << white;
        QTest::newRow("disabled") << false << false << faded << QColor(166, 169, 170);
        QTest::newRow("disabled, held down") << false << true << faded << QColor(166, 169, 170);
    }
    void looksAsItsStateSays()
    {
        QFETCH(bool, enabled);
        QFETCH(bool, pressed);
        QFETCH(QColor, fill);
        QFETCH(QColor, title);

        QWidget column;
        column.setPalette(QPalette(tavix::palette::panelBackground()));
        column.setAutoFillBackground(true);
        ToolActionButton button(u"Burn"_s, &column);
        button.setGeometry(0, 0, 324, 52);
        button.setEnabled(enabled);
        button.setDown(pressed);
        const QImage image = column.grab(button.geometry()).toImage();
        const auto near = [&image](int x, int y, const QColor& colour, int tolerance = 2) {
            const QColor seen = image.pixelColor(x, y);
            return std::abs(seen.red() - colour.red()) <= tolerance &&
                   std::abs(seen.green() - colour.green()) <= tolerance &&
                   std::abs(seen.blue() - colour.blue()) <= tolerance;
        };
        QVERIFY2(near(8, 26, fill), qPrintable(image.pixelColor(8, 26).name()));
        QVERIFY(near(0, 0, tavix::palette::panelBackground()));  // the corners are rounded
        // The glyphs' stems are wider than a pixel: some pixel shows the title's own colour.
        bool titleSeen = false;
        for (int i = 0; i < 124 * 36 && !titleSeen; ++i)
            titleSeen = near(100 + i % 124, 8 + i / 124, title, 4);
        QVERIFY(titleSeen);
    }

    // With the keyboard focus, as a push button: Space and either Enter key press it once.
    void answersTheKeyboard_data()
    {
        QTest::addColumn<Qt::Key>("key");
        QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<int>("presses");
        QTest::newRow("Space") << Qt::Key_Space << Qt::KeyboardModifiers() << true << 1;
        QTest::newRow("Enter") << Qt::Key_Return << Qt::KeyboardModifiers() << true << 1;
        QTest::newRow("Enter on the keypad")
            << Qt::Key_Enter << Qt::KeyboardModifiers(Qt::KeypadModifier) << true << 1;
        QTest::newRow("Ctrl+Enter")
            << Qt::Key_Return << Qt::KeyboardModifiers(Qt::ControlModifier) << true << 0;
        QTest::newRow("Escape") << Qt::Key_Escape << Qt::KeyboardModifiers() << true << 0;
        QTest::newRow("Enter while disabled")
            << Qt::Key_Return << Qt::KeyboardModifiers() << false << 0;
    }
    void answersTheKeyboard()
    {
        QFETCH(Qt::Key, key);
        QFETCH(Qt::KeyboardModifiers, modifiers);
        QFETCH(bool, enabled);
        QFETCH(int, presses);
        ToolActionButton button(u"Burn"_s);
        button.setEnabled(enabled);
        const QSignalSpy clicks(&button, &ToolActionButton::clicked);
        QTest::keyClick(&button, key, modifiers);
        QCOMPARE(clicks.count(), presses);
    }

    void takesClicksOnTheWholeBar()
    {
        ToolActionButton button(u"Erase"_s);
        button.resize(324, 52);
        QSignalSpy clicks(&button, &ToolActionButton::clicked);
        QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(6, 26));    // far from the title
        QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(318, 48));  // near the far corner
        QCOMPARE(clicks.count(), 2);
        // (QTest reads (0, 0) as "the centre".)
        QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(1, 0));  // outside the rounding
        button.setEnabled(false);
        QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(100, 26));
        QCOMPARE(clicks.count(), 2);
    }
};

QTEST_MAIN(TestToolActionButton)
#include "tst_toolactionbutton.moc"
