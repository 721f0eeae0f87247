#ifndef WINDOWHARNESS_H
#define WINDOWHARNESS_H

#include "dialoghelpers.h"
#include "window/mainwindow.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QStringList>
#include <QTest>
#include <QTimer>

// The window under test, found by object names, with helpers to connect it
// to a device path and to drive the sequences tick by tick.
class WindowHarness
{
public:
    WindowHarness();
    ~WindowHarness();

    MainWindow window;
    MessageBoxAnswerer boxes;

    template <typename T = QWidget> T *find(const char *name) const
    {
        return findNamed<T>(window, name);
    }
    QPushButton *button(const char *name) const { return find<QPushButton>(name); }
    QLineEdit *edit(const char *name) const { return find<QLineEdit>(name); }
    QComboBox *list(const char *name) const { return find<QComboBox>(name); }
    QTimer *timer(const char *name) const { return find<QTimer>(name); }
    QString status() const { return find<QStatusBar>("statusbar")->currentMessage(); }

    // Lists `path` in the port list, picks it and clicks connect.
    void connectTo(const QString &path);
    void click(const char *name) { QTest::mouseClick(button(name), Qt::LeftButton); }
    // Invokes a private slot of the window by name.
    void invoke(const char *slot);
    // Keeps a started sequence timer from ticking on its own, so a test can
    // tick it by hand while the window still sees it running.
    void holdTimer(const char *name);

    // The enable states of the port row and the module buttons, in a fixed
    // order: list, scanport, scan_parameters, applyButton, Reset,
    // reset_allparameters, connect.
    QList<bool> enableStates() const;
    static QList<bool> disconnectedStates();
    static QList<bool> connectedStates();

    // Style sheets of the eleven parameter fields, by object name.
    QStringList fieldStyles() const;
    static const QStringList &fieldNames();
};

// Records the debug log while alive.
class DebugLog
{
public:
    DebugLog();
    ~DebugLog();
    QStringList lines() const;
    int count(const QString &line) const { return lines().count(line); }
    void clear();
};

#endif // WINDOWHARNESS_H
