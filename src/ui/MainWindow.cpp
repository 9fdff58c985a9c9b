#include "ui/MainWindow.h"

using namespace Qt::StringLiterals;

MainWindow::MainWindow(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(u"main"_s);
    setWindowTitle(u"Tavix Flash Tool"_s);
    resize(900, 630);
}
