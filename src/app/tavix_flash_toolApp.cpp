#include "app/tavix_flash_toolApp.h"

#include "app/AppDelegate.h"
#include "ui/MainWindow.h"

#include <QApplication>

using namespace Qt::StringLiterals;

namespace tavix {

std::unique_ptr<MainWindow> tavix_flash_toolApp::body()
{
    return std::make_unique<MainWindow>();
}

int tavix_flash_toolApp::main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(u"Tavix Flash Tool"_s);
    QApplication::setDesktopFileName(u"com.tavix.FlashTool"_s);
    AppDelegate::applicationWillFinishLaunching(&application);

    const std::unique_ptr<MainWindow> window = body();
    window->show();
    return QApplication::exec();
}

}  // namespace tavix
