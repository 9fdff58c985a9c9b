#include "ui/ConsoleLogPanel.h"

#include "ui/Palette.h"

#include <QFontDatabase>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace tavix {

namespace {

QLabel* makeHeader(QWidget* parent)
{
    auto* header = new QLabel(u"Console Log"_s, parent);
    QFont font = header->font();
    font.setPointSizeF(14);
    font.setWeight(QFont::DemiBold);
    header->setFont(font);
    header->setAlignment(Qt::AlignCenter);
    QPalette colours = header->palette();
    colours.setColor(QPalette::WindowText, palette::primaryText());
    header->setPalette(colours);
    header->setContentsMargins(0, 18, 0, 8);
    return header;
}

QPlainTextEdit* makeLogView(QWidget* parent)
{
    auto* view = new QPlainTextEdit(parent);
    view->setObjectName(u"consoleLog"_s);
    view->setAccessibleName(u"Console log"_s);
    view->setAccessibleDescription(u"Everything the flasher printed during the last operation"_s);
    view->setReadOnly(true);
    view->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    view->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    view->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view->setUndoRedoEnabled(false);
    view->document()->setDocumentMargin(12);

    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSizeF(12);
    view->setFont(font);

    view->setFrameShape(QFrame::NoFrame);
    view->setStyleSheet(u"QPlainTextEdit#consoleLog { border: 1px solid %1; background: %2;"
                        u" color: %3; }"_s.arg(palette::logBorder().name(),
                                               palette::logBackground().name(),
                                               palette::primaryText().name()));
    return view;
}

}  // namespace

ConsoleLogPanel::ConsoleLogPanel(QWidget* parent)
    : QWidget(parent)
    , m_logView(makeLogView(this))
{
    setObjectName(u"consoleLogPanel"_s);
    setMinimumWidth(minimumWidth);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setAutoFillBackground(true);
    QPalette colours = this->palette();
    colours.setColor(QPalette::Window, palette::panelBackground());
    setPalette(colours);

    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(0);
    layout->setContentsMargins(16, 0, 16, 16);
    layout->addWidget(makeHeader(this));
    layout->addWidget(m_logView, 1);
}

void ConsoleLogPanel::showLog(const QString& log, quint64 resets)
{
    // The log's own text is handled alone; the hint goes back below whatever it became.
    removeHint();
    const bool firstTime = !m_hasShownLog;
    const bool lengthChanged = log.size() != m_shownLength;
    if (firstTime || resets != m_shownResets || log.size() < m_shownLength) {
        replaceText(log);
    } else if (lengthChanged) {
        // Through a cursor of its own, so that a selection the user is making stays put.
        QTextCursor end(m_logView->document());
        end.movePosition(QTextCursor::End);
        // In the log's own look, not that of a hint that was removed from the end just now.
        end.insertText(log.sliced(m_shownLength), QTextCharFormat());
    }
    m_hasShownLog = true;
    m_shownLength = log.size();
    m_shownResets = resets;
    insertHint();
    if (lengthChanged && !firstTime)
        scrollToEnd();
}

void ConsoleLogPanel::setHint(const QString& hint)
{
    if (hint == m_hint)
        return;
    removeHint();
    m_hint = hint;
    insertHint();
    if (!m_hint.isEmpty())
        scrollToEnd();
}

void ConsoleLogPanel::insertHint()
{
    if (m_hint.isEmpty())
        return;
    QTextCursor end(m_logView->document());
    end.movePosition(QTextCursor::End);
    const int start = end.position();
    // Set apart from the flasher's words by a blank line and the status line's quieter colour.
    QString separator;
    if (m_shownLength > 0)
        separator = m_logView->document()->lastBlock().text().isEmpty() ? u"\n"_s : u"\n\n"_s;
    QTextCharFormat quieter;
    quieter.setForeground(palette::secondaryText());
    end.insertText(separator + m_hint, quieter);
    m_hintLength = end.position() - start;
}

void ConsoleLogPanel::removeHint()
{
    if (m_hintLength == 0)
        return;
    QTextCursor hint(m_logView->document());
    hint.movePosition(QTextCursor::End);
    hint.movePosition(QTextCursor::PreviousCharacter, QTextCursor::KeepAnchor, m_hintLength);
    hint.removeSelectedText();
    m_hintLength = 0;
}

void ConsoleLogPanel::replaceText(const QString& log)
{
    // Replacing the text resets the view to its top; a replacement of the same length must not
    // move it, so the position is put back (a change of length scrolls to the end anyway).
    QScrollBar* scrollBar = m_logView->verticalScrollBar();
    const int position = scrollBar->value();
    m_logView->setPlainText(log);
    if (m_hasShownLog)
        scrollBar->setValue(position);
}

void ConsoleLogPanel::scrollToEnd()
{
    QScrollBar* scrollBar = m_logView->verticalScrollBar();
    scrollBar->setValue(scrollBar->maximum());
}

void ConsoleLogPanel::paintEvent(QPaintEvent* event)
{
    QWidget::paintEvent(event);
    QPainter painter(this);
    painter.fillRect(QRect(0, 0, 1, height()), palette::dividerColor());
}

}  // namespace tavix
