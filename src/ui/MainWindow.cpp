#include "ui/MainWindow.h"

#include "ui/ContentView.h"

#include <QVBoxLayout>

using namespace Qt::StringLiterals;

MainWindow::MainWindow(ContentView* content, QWidget* parent)
    : QWidget(parent)
    , m_content(content ? content : new ContentView)
{
    setObjectName(u"main"_s);
    setWindowTitle(u"Tavix Flash Tool"_s);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    // The window's minimum size is the content's, and follows it when the console is toggled.
    layout->setSizeConstraint(QLayout::SetMinimumSize);
    layout->addWidget(m_content);
    resize(defaultSize);
}
