#include "cli/CommandLineRun.h"
#include "cli/ConsoleReporter.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char* argv[])
{
    // QSerialPort watches its descriptor through the thread's event dispatcher, which the
    // application object provides; the run itself blocks with deadlines and needs no loop.
    const QCoreApplication application(argc, argv);
    esptool::ConsoleReporter console(stdout, stderr);
    return esptool::runCommandLine(QCoreApplication::arguments().mid(1), console);
}
