// Draws the app's title image, a chip with a lightning bolt beside the name, into a PNG.
// Run at build time (offscreen platform); the picture depends only on this code and the fonts.
//
// usage: make-title OUTPUT.png

#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

// Twice the size the window shows it at, for high-density screens.
constexpr QSize canvas(480, 210);

const QColor teal(32, 111, 124);
const QColor tealDark(23, 89, 101);
const QColor pinGrey(112, 117, 120);
const QColor ink(27, 31, 33);

void drawChip(QPainter& painter, const QRectF& body)
{
    painter.setPen(Qt::NoPen);
    painter.setBrush(pinGrey);
    const int pins = 5;
    const qreal pitch = body.height() / (pins + 1);
    for (int i = 1; i <= pins; ++i) {
        const qreal y = body.top() + i * pitch;
        painter.drawRoundedRect(QRectF(body.left() - 14, y - 5, 18, 10), 3, 3);
        painter.drawRoundedRect(QRectF(body.right() - 4, y - 5, 18, 10), 3, 3);
        const qreal x = body.left() + i * pitch;
        painter.drawRoundedRect(QRectF(x - 5, body.top() - 14, 10, 18), 3, 3);
        painter.drawRoundedRect(QRectF(x - 5, body.bottom() - 4, 10, 18), 3, 3);
    }

    QLinearGradient fill(body.topLeft(), body.bottomRight());
    fill.setColorAt(0, teal);
    fill.setColorAt(1, tealDark);
    painter.setBrush(fill);
    painter.drawRoundedRect(body, 22, 22);

    // The bolt: the flash that goes into the chip.
    const QPointF c = body.center();
    const QPolygonF bolt({c + QPointF(10, -52), c + QPointF(-30, 8), c + QPointF(-2, 8),
                          c + QPointF(-12, 52), c + QPointF(30, -10), c + QPointF(2, -10)});
    painter.setBrush(Qt::white);
    painter.drawPolygon(bolt);
}

void drawName(QPainter& painter, qreal left)
{
    QFont name(u"DejaVu Sans"_s);
    name.setPixelSize(70);
    name.setWeight(QFont::Bold);
    name.setLetterSpacing(QFont::AbsoluteSpacing, -1);
    painter.setFont(name);
    painter.setPen(ink);
    painter.drawText(QPointF(left, 112), u"Tavix"_s);

    QFont subtitle(u"DejaVu Sans"_s);
    subtitle.setPixelSize(25);
    subtitle.setWeight(QFont::DemiBold);
    subtitle.setLetterSpacing(QFont::AbsoluteSpacing, 5);
    painter.setFont(subtitle);
    painter.setPen(teal);
    painter.drawText(QPointF(left + 3, 152), u"FLASH TOOL"_s);
}

}  // namespace

int main(int argc, char* argv[])
{
    QGuiApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: make-title OUTPUT.png\n");
        return 2;
    }

    QImage image(canvas, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    drawChip(painter, QRectF(30, 45, 120, 120));
    drawName(painter, 185);
    painter.end();

    if (!image.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "make-title: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
