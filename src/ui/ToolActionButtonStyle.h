#pragma once

#include <QColor>
#include <QFont>
#include <QRectF>
#include <QString>

class QPainter;

namespace tavix {

// How "Burn" and "Erase" are drawn: a filled, rounded bar whose colours tell enabled, pressed
// and disabled apart. No border, no shadow, no animation between the states.
class ToolActionButtonStyle
{
public:
    struct Look
    {
        QColor fill;
        QColor text;
        qreal opacity = 1.0;
    };

    static constexpr int height = 52;
    static constexpr qreal cornerRadius = 5.0;

    // A disabled button looks disabled even while held down.
    static Look look(bool isEnabled, bool isPressed);
    static QFont titleFont(const QFont& base);

    // Draws the whole button into rect.
    static void makeBody(QPainter& painter, const QRectF& rect, const QString& title,
                         const QFont& font, bool isEnabled, bool isPressed);
};

}  // namespace tavix
