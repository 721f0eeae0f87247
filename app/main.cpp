#include "app/mainwindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    MainWindow window;
    window.setFixedSize(550, 600);
    window.show();
    return application.exec();
}
