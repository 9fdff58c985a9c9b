#pragma once

#include <QAccessible>
#include <QFrame>
#include <QString>

namespace tavix {

// One line of text, cut with an ellipsis when it does not fit. Assistive technology reads the
// whole text, as a label or in the role it is given, and hears of every change of it.
class ElidedLabel : public QFrame
{
    Q_OBJECT

public:
    explicit ElidedLabel(QWidget* parent = nullptr);

    // Before it is first shown; a status line, for instance, is QAccessible::StatusBar.
    void setAccessibleRole(QAccessible::Role role) { m_accessibleRole = role; }
    QAccessible::Role accessibleRole() const { return m_accessibleRole; }

    void setText(const QString& text);
    const QString& text() const { return m_text; }
    // What is drawn at the current width.
    QString shownText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_text;
    QAccessible::Role m_accessibleRole = QAccessible::StaticText;
};

}  // namespace tavix
