#include "app/commandline.h"
#include "app/entry.h"
#include "app/lookahead.h"
#include "app/mainwindow.h"
#include "console/tracelog.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    TraceLog log; // outlives the window, which writes to it until it closes the port
    const int early = readCommandLine(argc, argv, log);
    if (early >= 0)
        return early;
    // What the window needs from the system is fetched while the application
    // object reaches the display.
    startLookAhead();
    QApplication application(argc, argv);
    MainWindow window;
    if (log.isOpen())
        window.setTraceLog(&log);
    presentMainWindow(window);
    return application.exec();
}
