#pragma once

#include <QString>
#include <QWidget>

class QPlainTextEdit;

namespace tavix {

// The right-hand panel: a header and the flasher's log, monospaced, selectable, following the
// end of the log as it grows.
class ConsoleLogPanel : public QWidget
{
    Q_OBJECT

public:
    static constexpr int minimumWidth = 544;

    explicit ConsoleLogPanel(QWidget* parent = nullptr);

    // Called with the engine's log on every change. resets counts the times the log was
    // replaced rather than appended to: when it is unchanged and the log is longer, only the new
    // end is added, so the text is never laid out again from the start. The first call shows the
    // log from its top; every later change of the log's length scrolls to its end.
    void showLog(const QString& log, quint64 resets);
    // A note of the window's own below the log (an adapter that has no port), not part of the
    // log: the next showLog() keeps it below the new text. Empty for none. A new note scrolls
    // to the end, where it is.
    void setHint(const QString& hint);

    QPlainTextEdit* logView() const { return m_logView; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void replaceText(const QString& log);
    void scrollToEnd();
    void insertHint();
    void removeHint();

    QPlainTextEdit* m_logView;
    QString m_hint;
    // Characters of the document that the hint and the blank line above it take, at its end.
    int m_hintLength = 0;
    qsizetype m_shownLength = 0;
    quint64 m_shownResets = 0;
    bool m_hasShownLog = false;
};

}  // namespace tavix
