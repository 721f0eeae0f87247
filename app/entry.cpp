#include "app/entry.h"

#include "app/mainwindow.h"

void presentMainWindow(MainWindow &window)
{
    window.setFixedSize(550, 600);
    window.show();
}
