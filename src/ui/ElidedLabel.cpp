#include "ui/ElidedLabel.h"

#include <QAccessibleWidget>
#include <QPainter>
#include <QtMath>

namespace tavix {

namespace {

// Without this, assistive technology takes the label for the QFrame it is built on, a frame
// with no text, and a change of its text goes unannounced.
QAccessibleInterface* accessibleElidedLabel(const QString& className, QObject* object)
{
    auto* label = qobject_cast<ElidedLabel*>(object);
    if (className != QLatin1StringView(ElidedLabel::staticMetaObject.className()) || !label)
        return nullptr;
    return new QAccessibleWidget(label, label->accessibleRole());
}

}  // namespace

ElidedLabel::ElidedLabel(QWidget* parent)
    : QFrame(parent)
{
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(accessibleElidedLabel);
        return true;
    }();
    Q_UNUSED(factoryInstalled);
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
    // Also announces the change (a NameChanged event) to whoever listens.
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

}  // namespace tavix
