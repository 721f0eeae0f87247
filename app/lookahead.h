#ifndef LOOKAHEAD_H
#define LOOKAHEAD_H

#include <QIcon>

// Start-up look-ahead. Building the window waits for things that need no
// application object: the system's serial ports (udev walks every tty
// device), the images of the window icon, and the font configuration that
// the form's fonts are matched against. The process entry starts fetching
// them on threads of their own first thing, while the application object
// reaches the display; the window takes what they found. What is built and
// shown is the same either way.
void startLookAhead();

// The window icon, from the resource ":/icon/Tessmar.ico" (every size the
// file holds): built from the images decoded ahead when there are some,
// decoded on the spot otherwise.
QIcon windowIconFromResource();

#endif // LOOKAHEAD_H
