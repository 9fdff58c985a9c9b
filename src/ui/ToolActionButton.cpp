#include "ui/ToolActionButton.h"

#include "ui/ToolActionButtonStyle.h"

#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>

namespace tavix {

ToolActionButton::ToolActionButton(const QString& title, QWidget* parent)
    : QAbstractButton(parent)
{
    setText(title);
    setAccessibleName(title);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize ToolActionButton::sizeHint() const
{
    return {QFontMetrics(ToolActionButtonStyle::titleFont(font())).horizontalAdvance(text()) + 32,
            ToolActionButtonStyle::height};
}

QSize ToolActionButton::minimumSizeHint() const
{
    return sizeHint();
}

void ToolActionButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    ToolActionButtonStyle::makeBody(painter, rect(), text(), font(), isEnabled(), isDown());

    // Keyboard users need to see where they are; a mouse user never sees this ring.
    if (hasFocus() && window()->testAttribute(Qt::WA_KeyboardFocusChange)) {
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(QColor(255, 255, 255, 200), 2, Qt::DotLine));
        painter.drawRoundedRect(QRectF(rect()).adjusted(3, 3, -3, -3),
                                ToolActionButtonStyle::cornerRadius - 2,
                                ToolActionButtonStyle::cornerRadius - 2);
    }
}

void ToolActionButton::keyPressEvent(QKeyEvent* event)
{
    // QAbstractButton answers Space alone; a push button answers Enter as well, and keyboard and
    // screen reader users expect this one to. A key held down presses once.
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        if (!event->isAutoRepeat())
            click();
        event->accept();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

bool ToolActionButton::hitButton(const QPoint& position) const
{
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), ToolActionButtonStyle::cornerRadius,
                         ToolActionButtonStyle::cornerRadius);
    // Whole pixels are hit at their centres, so the rounded corners' outer pixels miss.
    return shape.contains(QPointF(position) + QPointF(0.5, 0.5));
}

}  // namespace tavix
