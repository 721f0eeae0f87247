#include "app/entry.h"
#include "app/mainwindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    MainWindow window;
    presentMainWindow(window);
    return application.exec();
}
