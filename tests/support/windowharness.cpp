#include "windowharness.h"

#include "window/settingsdialog.h"

#include "engine/console/portcatalog.h"

#include <QMutex>

// The settings file's own file commands ask with the window's dialog, as in
// the program, where the window installs it: the tests of the settings file
// meet that dialog without a window. (The window's helpers are linked whole
// into each test, so this runs in every one of them.)
static const bool settingsDialogInstalled = (installSettingsFileDialog(), true);

WindowHarness::WindowHarness() = default;

WindowHarness::~WindowHarness()
{
    PortCatalog::clearDevicePaths();
}

void WindowHarness::connectTo(const QString &path)
{
    PortCatalog::addDevicePath(path);
    click("scanport");
    QComboBox *ports = list("serialPortInfoListBox");
    ports->setCurrentIndex(ports->findText(path));
    click("connect");
}

void WindowHarness::invoke(const char *slot)
{
    if (!QMetaObject::invokeMethod(&window, slot))
        qFatal("cannot invoke %s", slot);
}

void WindowHarness::holdTimer(const char *name)
{
    QTimer *t = timer(name);
    if (t->isActive())
        t->start(24 * 3600 * 1000);
}

QList<bool> WindowHarness::enableStates() const
{
    return {list("serialPortInfoListBox")->isEnabled(),
            button("scanport")->isEnabled(),
            button("scan_parameters")->isEnabled(),
            button("applyButton")->isEnabled(),
            button("Reset")->isEnabled(),
            button("reset_allparameters")->isEnabled(),
            button("connect")->isEnabled()};
}

QList<bool> WindowHarness::disconnectedStates()
{
    return {true, true, false, false, false, false, true};
}

QList<bool> WindowHarness::connectedStates()
{
    return {false, false, true, true, true, true, true};
}

const QStringList &WindowHarness::fieldNames()
{
    static const QStringList names = {"lineEdit_name",    "lineEdit_version", "lineEdit_MAC",
                                      "lineEdit_ip",      "lineEdit_mask",    "lineEdit_gateway",
                                      "lineEdit_portTCP", "comboBox",         "comboBox_speed",
                                      "comboBox_2",       "lineEdit_timewait"};
    return names;
}

QStringList WindowHarness::fieldStyles() const
{
    QStringList styles;
    for (const QString &name : fieldNames())
        styles << find(name.toLatin1().constData())->styleSheet();
    return styles;
}

namespace
{
QMutex logMutex;
QStringList *logLines = nullptr;
QtMessageHandler previousHandler = nullptr;

void recordMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    {
        QMutexLocker lock(&logMutex);
        if (logLines && type == QtDebugMsg)
            *logLines << message;
    }
    if (previousHandler && type != QtDebugMsg)
        previousHandler(type, context, message);
}
} // namespace

DebugLog::DebugLog()
{
    QMutexLocker lock(&logMutex);
    logLines = new QStringList;
    previousHandler = qInstallMessageHandler(recordMessage);
}

DebugLog::~DebugLog()
{
    qInstallMessageHandler(previousHandler);
    QMutexLocker lock(&logMutex);
    delete logLines;
    logLines = nullptr;
}

QStringList DebugLog::lines() const
{
    QMutexLocker lock(&logMutex);
    return *logLines;
}

void DebugLog::clear()
{
    QMutexLocker lock(&logMutex);
    logLines->clear();
}
