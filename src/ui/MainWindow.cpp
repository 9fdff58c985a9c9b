#include "ui/MainWindow.h"

#include "ui/ContentView.h"

#include <QAccessibleWidget>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace tavix {

namespace {

// A plain top-level widget is a "filler" to a screen reader, which then does not take it for
// the application's window; named by its title as any window is.
QAccessibleInterface* accessibleMainWindow(const QString& className, QObject* object)
{
    auto* window = qobject_cast<MainWindow*>(object);
    if (className != QLatin1StringView(MainWindow::staticMetaObject.className()) || !window)
        return nullptr;
    return new QAccessibleWidget(window, QAccessible::Window);
}

}  // namespace

MainWindow::MainWindow(ContentView* content, QWidget* parent)
    : QWidget(parent)
    , m_content(content ? content : new ContentView)
{
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(accessibleMainWindow);
        return true;
    }();
    Q_UNUSED(factoryInstalled);
    setObjectName(u"main"_s);
    setWindowTitle(u"Tavix Flash Tool"_s);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    // The window's minimum size is the content's, and follows it when the console is toggled.
    layout->setSizeConstraint(QLayout::SetMinimumSize);
    layout->addWidget(m_content);
    resize(defaultSize);
}

}  // namespace tavix
