#include "window/entry.h"

#include "window/mainwindow.h"

void presentMainWindow(MainWindow &window)
{
    window.setFixedSize(550, 600);
    window.show();
}
