// Draws the app's title image, a chip with a lightning bolt beside the name, and the app's
// icon, the chip alone, into two PNG files.
// Run at build time (offscreen platform); the picture depends only on this code and the fonts.
//
// usage: make-title TITLE.png ICON.png

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
constexpr QSize titleCanvas(480, 210);
constexpr QSize iconCanvas(256, 256);

const QColor teal(32, 111, 124);
const QColor tealDark(23, 89, 101);
const QColor pinGrey(112, 117, 120);
const QColor ink(27, 31, 33);

void drawChip(QPainter& painter, const QRectF& body)
{
    // Drawn for a 120-pixel body and scaled, so the icon and the title show the same chip.
    painter.save();
    painter.translate(body.topLeft());
    painter.scale(body.width() / 120.0, body.height() / 120.0);
    const QRectF unit(0, 0, 120, 120);

    painter.setPen(Qt::NoPen);
    painter.setBrush(pinGrey);
    const int pins = 5;
    const qreal pitch = unit.height() / (pins + 1);
    for (int i = 1; i <= pins; ++i) {
        const qreal along = i * pitch;
        painter.drawRoundedRect(QRectF(-14, along - 5, 18, 10), 3, 3);
        painter.drawRoundedRect(QRectF(unit.right() - 4, along - 5, 18, 10), 3, 3);
        painter.drawRoundedRect(QRectF(along - 5, -14, 10, 18), 3, 3);
        painter.drawRoundedRect(QRectF(along - 5, unit.bottom() - 4, 10, 18), 3, 3);
    }

    QLinearGradient fill(unit.topLeft(), unit.bottomRight());
    fill.setColorAt(0, teal);
    fill.setColorAt(1, tealDark);
    painter.setBrush(fill);
    painter.drawRoundedRect(unit, 22, 22);

    // The bolt: the flash that goes into the chip.
    const QPointF c = unit.center();
    const QPolygonF bolt({c + QPointF(10, -52), c + QPointF(-30, 8), c + QPointF(-2, 8),
                          c + QPointF(-12, 52), c + QPointF(30, -10), c + QPointF(2, -10)});
    painter.setBrush(Qt::white);
    painter.drawPolygon(bolt);
    painter.restore();
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

bool save(const QImage& image, const char* path)
{
    if (image.save(QString::fromLocal8Bit(path), "PNG"))
        return true;
    std::fprintf(stderr, "make-title: cannot write %s\n", path);
    return false;
}

QImage blank(const QSize& size)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

}  // namespace

int main(int argc, char* argv[])
{
    QGuiApplication application(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: make-title TITLE.png ICON.png\n");
        return 2;
    }

    QImage title = blank(titleCanvas);
    QPainter painter(&title);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    drawChip(painter, QRectF(30, 45, 120, 120));
    drawName(painter, 185);
    painter.end();

    // The app's icon: the chip alone, with room for its pins.
    QImage icon = blank(iconCanvas);
    painter.begin(&icon);
    painter.setRenderHint(QPainter::Antialiasing);
    drawChip(painter, QRectF(34, 34, 188, 188));
    painter.end();

    return save(title, argv[1]) && save(icon, argv[2]) ? 0 : 1;
}
