#include "ui/ToolActionButtonStyle.h"

#include "ui/Palette.h"

#include <QPainter>
#include <QPainterPath>

namespace tavix {

ToolActionButtonStyle::Look ToolActionButtonStyle::look(bool isEnabled, bool isPressed)
{
    if (!isEnabled)
        return {palette::buttonFillDisabled(), palette::secondaryText(), 0.55};
    return {isPressed ? palette::buttonFillPressed() : palette::buttonFill(), QColor(Qt::white),
            1.0};
}

QFont ToolActionButtonStyle::titleFont(const QFont& base)
{
    QFont font = base;
    font.setPointSizeF(16);
    font.setWeight(QFont::DemiBold);
    return font;
}

void ToolActionButtonStyle::makeBody(QPainter& painter, const QRectF& rect, const QString& title,
                                     const QFont& font, bool isEnabled, bool isPressed)
{
    const Look style = look(isEnabled, isPressed);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(style.opacity);

    QPainterPath shape;
    shape.addRoundedRect(rect, cornerRadius, cornerRadius);
    painter.fillPath(shape, style.fill);

    painter.setFont(titleFont(font));
    painter.setPen(style.text);
    painter.drawText(rect, Qt::AlignCenter | Qt::TextSingleLine, title);
    painter.restore();
}

}  // namespace tavix
