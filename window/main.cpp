#include "engine/platform/tracelog.h"
#include "window/commandline.h"
#include "window/entry.h"
#include "window/mainwindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    TraceLog log; // outlives the window, which writes to it until it closes the port
    const int early = readCommandLine(argc, argv, log);
    if (early >= 0)
        return early;
    QApplication application(argc, argv);
    MainWindow window;
    if (log.isOpen())
        window.setTraceLog(&log);
    presentMainWindow(window);
    return application.exec();
}
