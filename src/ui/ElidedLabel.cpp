#include "ui/ElidedLabel.h"

#include <QPainter>
#include <QtMath>

ElidedLabel::ElidedLabel(QWidget* parent)
    : QFrame(parent)
{
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void ElidedLabel::setText(const QString& text)
{
    // The status changes with every progress line; most changes keep the text's width, and
    // then the column need not be laid out again.
    if (text == m_text)
        return;
    const QSize oldHint = sizeHint();
    m_text = text;
    setAccessibleName(text);
    if (sizeHint() != oldHint)
        updateGeometry();
    update();
}

QString ElidedLabel::shownText() const
{
    // One line: a line break in the text would otherwise start a second one.
    QString line = m_text;
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return fontMetrics().elidedText(line, Qt::ElideRight, contentsRect().width());
}

QSize ElidedLabel::sizeHint() const
{
    // Rounded up: a hint a fraction of a pixel short would cut a text that fits.
    return {qCeil(QFontMetricsF(font()).horizontalAdvance(m_text)) + 1, fontMetrics().height()};
}

QSize ElidedLabel::minimumSizeHint() const
{
    return {0, fontMetrics().height()};
}

void ElidedLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(palette().color(foregroundRole()));
    painter.drawText(contentsRect(), Qt::AlignCenter | Qt::TextSingleLine, shownText());
}
