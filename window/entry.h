#ifndef ENTRY_H
#define ENTRY_H

class MainWindow;

// What the process entry does with its one window: fix it at 550 x 600
// (replacing the form's own size) and show it.
void presentMainWindow(MainWindow &window);

#endif // ENTRY_H
