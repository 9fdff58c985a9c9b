#include "demo/DemoApp.h"

#include "app/AppDelegate.h"
#include "demo/DemoSession.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QPixmap>
#include <QScreen>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace tavix {

namespace {

constexpr int exitOk = 0;
constexpr int exitFailure = 1;
constexpr int exitUsage = 2;

void printLine(std::FILE* stream, const QString& text)
{
    std::fputs(qPrintable(text + u'\n'), stream);
    std::fflush(stream);
}

// The whole screen, menus and all, from any X client: enough to look at a demo under Xvfb.
int saveScreenshot(const QString& path)
{
    const QPixmap picture = QGuiApplication::primaryScreen()->grabWindow(0);
    if (picture.isNull() || !picture.save(path)) {
        printLine(stderr, u"tavix-flash-tool-demo: cannot save a screenshot to "_s + path);
        return exitFailure;
    }
    return exitOk;
}

}  // namespace

int DemoApp::main(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const ParsedDemoOptions parsed = parseDemoOptions(arguments);
    if (parsed.helpRequested) {
        std::fputs(qPrintable(demoHelp()), stdout);
        return exitOk;
    }
    if (!parsed.options) {
        printLine(stderr, u"tavix-flash-tool-demo: %1\n%2"_s.arg(parsed.error, demoUsage()));
        return exitUsage;
    }

    QApplication application(argc, argv);
    if (!parsed.options->screenshotPath.isEmpty())
        return saveScreenshot(parsed.options->screenshotPath);
    // The app's name, so that the demo uses the app's own installed copy of the flasher.
    QApplication::setApplicationName(u"Tavix Flash Tool"_s);
    AppDelegate::applicationWillFinishLaunching(&application);

    DemoSession session(*parsed.options, {QCoreApplication::applicationDirPath() + u"/esp32-sim"_s,
                                          EsptoolEnvironment::fromSystem()});
    QString error;
    if (!session.start(&error)) {
        printLine(stderr, u"tavix-flash-tool-demo: "_s + error);
        return exitFailure;
    }
    session.window().show();
    const qint64 pid = QCoreApplication::applicationPid();
    printLine(stdout, u"The demo (pid %1) flashes a simulated ESP32 on %2. Close the window, press "
                      "Ctrl-C or run 'kill %1' to end it."_s.arg(pid)
                          .arg(session.boardPort()));
    return QApplication::exec();
}

}  // namespace tavix
