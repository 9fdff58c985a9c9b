#pragma once

#include <QColor>

// The window's colours, named once. The look is fixed and light whatever the desktop's theme.
namespace tavix::palette {

inline QColor windowBackground()
{
    return QColor::fromRgbF(0.964f, 0.958f, 0.94f);
}
inline QColor panelBackground()
{
    return QColor::fromRgbF(0.988f, 0.984f, 0.972f);
}
inline QColor logBackground()
{
    return QColor::fromRgbF(1.0f, 0.998f, 0.99f);
}
inline QColor logBorder()
{
    return QColor::fromRgbF(0.804f, 0.79f, 0.746f);
}
inline QColor dividerColor()
{
    return QColor::fromRgbF(0.85f, 0.835f, 0.79f);
}
inline QColor buttonFill()
{
    return QColor::fromRgbF(0.125f, 0.435f, 0.485f);
}
inline QColor buttonFillPressed()
{
    return QColor::fromRgbF(0.09f, 0.35f, 0.395f);
}
inline QColor buttonFillDisabled()
{
    return QColor::fromRgbF(0.85f, 0.858f, 0.85f);
}
inline QColor primaryText()
{
    return QColor::fromRgbF(0.105f, 0.12f, 0.13f);
}
inline QColor secondaryText()
{
    return QColor::fromRgbF(0.44f, 0.46f, 0.47f);
}

}  // namespace tavix::palette
