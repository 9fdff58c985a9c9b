#pragma once

#include <QAbstractButton>

namespace tavix {

// A full-width action button drawn by ToolActionButtonStyle. The whole rounded bar takes clicks,
// not only the title; with the keyboard focus, Space and Enter press it.
class ToolActionButton : public QAbstractButton
{
    Q_OBJECT

public:
    explicit ToolActionButton(const QString& title, QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool hitButton(const QPoint& position) const override;
};

}  // namespace tavix
