#include "ui/Palette.h"
#include "ui/ToolActionButton.h"
#include "ui/ToolActionButtonStyle.h"

#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

bool near(const QColor& a, const QColor& b)
{
    return std::abs(a.red() - b.red()) <= 2 && std::abs(a.green() - b.green()) <= 2 &&
           std::abs(a.blue() - b.blue()) <= 2;
}

QColor blend(const QColor& top, const QColor& bottom, qreal opacity)
{
    const auto mix = [opacity](float over, float under) {
        return float(over * opacity + under * (1 - opacity));
    };
    return QColor::fromRgbF(mix(top.redF(), bottom.redF()), mix(top.greenF(), bottom.greenF()),
                            mix(top.blueF(), bottom.blueF()));
}

}  // namespace

class TestToolActionButton : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void looksAsItsStateSays_data();
    void looksAsItsStateSays();
    void paintsTheFillAtItsOpacity_data();
    void paintsTheFillAtItsOpacity();
    void takesClicksOnTheWholeBar();
    void ignoresClicksWhileDisabled();
};

void TestToolActionButton::looksAsItsStateSays_data()
{
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("pressed");
    QTest::addColumn<QColor>("fill");
    QTest::addColumn<QColor>("text");
    QTest::addColumn<qreal>("opacity");

    QTest::newRow("enabled") << true << false << QColor(32, 111, 124) << QColor(Qt::white) << 1.0;
    QTest::newRow("pressed") << true << true << QColor(23, 89, 101) << QColor(Qt::white) << 1.0;
    QTest::newRow("disabled") << false << false << QColor(217, 219, 217) << QColor(112, 117, 120)
                              << 0.55;
    QTest::newRow("disabled wins over pressed")
        << false << true << QColor(217, 219, 217) << QColor(112, 117, 120) << 0.55;
}

void TestToolActionButton::looksAsItsStateSays()
{
    QFETCH(bool, enabled);
    QFETCH(bool, pressed);
    QFETCH(QColor, fill);
    QFETCH(QColor, text);
    QFETCH(qreal, opacity);

    const ToolActionButtonStyle::Look look = ToolActionButtonStyle::look(enabled, pressed);
    QVERIFY2(near(look.fill, fill), qPrintable(look.fill.name()));
    QVERIFY2(near(look.text, text), qPrintable(look.text.name()));
    QCOMPARE(look.opacity, opacity);
    QCOMPARE(ToolActionButtonStyle::titleFont(QFont()).pointSizeF(), 16.0);
    QCOMPARE(ToolActionButtonStyle::titleFont(QFont()).weight(), QFont::DemiBold);
}

void TestToolActionButton::paintsTheFillAtItsOpacity_data()
{
    QTest::addColumn<bool>("enabled");
    QTest::newRow("enabled") << true;
    QTest::newRow("disabled") << false;
}

void TestToolActionButton::paintsTheFillAtItsOpacity()
{
    QFETCH(bool, enabled);
    QWidget background;
    background.setAutoFillBackground(true);
    QPalette palette = background.palette();
    palette.setColor(QPalette::Window, Palette::panelBackground());
    background.setPalette(palette);
    background.resize(324, 52);
    ToolActionButton button(u"Burn"_s, &background);
    button.setGeometry(0, 0, 324, 52);
    button.setEnabled(enabled);

    const QImage image = background.grab().toImage();
    const ToolActionButtonStyle::Look look = ToolActionButtonStyle::look(enabled, false);
    const QColor inside = image.pixelColor(8, 26);  // left of the centred title
    QVERIFY2(near(inside, blend(look.fill, Palette::panelBackground(), look.opacity)),
             qPrintable(inside.name()));
    // The corner is cut round: the background shows through.
    QVERIFY2(near(image.pixelColor(0, 0), Palette::panelBackground()),
             qPrintable(image.pixelColor(0, 0).name()));
}

void TestToolActionButton::takesClicksOnTheWholeBar()
{
    ToolActionButton button(u"Erase"_s);
    button.resize(324, 52);
    QSignalSpy clicks(&button, &ToolActionButton::clicked);
    QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(6, 26));    // far from the title
    QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(318, 48));  // near the far corner
    QCOMPARE(clicks.count(), 2);
    // (QTest reads (0, 0) as "the centre".)
    QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(1, 0));  // outside the rounding
    QCOMPARE(clicks.count(), 2);
    QCOMPARE(button.sizeHint().height(), 52);
}

void TestToolActionButton::ignoresClicksWhileDisabled()
{
    ToolActionButton button(u"Burn"_s);
    button.resize(324, 52);
    button.setEnabled(false);
    QSignalSpy clicks(&button, &ToolActionButton::clicked);
    QTest::mousePress(&button, Qt::LeftButton, {}, QPoint(100, 26));
    QVERIFY(!button.isDown());
    QTest::mouseRelease(&button, Qt::LeftButton, {}, QPoint(100, 26));
    QCOMPARE(clicks.count(), 0);
}

QTEST_MAIN(TestToolActionButton)
#include "tst_toolactionbutton.moc"
