// The configurator with a simulated module attached: starts the module
// simulator as a program of its own, lists its device in the port list and
// shows the window. Kill the simulator to see a module pulled mid-session.
#include "engine/console/portcatalog.h"
#include "window/entry.h"
#include "window/mainwindow.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QMessageBox>
#include <QProcess>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);

    QProcess module;
    module.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const QString simulator =
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("ordan-module-sim"));
    // Any options given to the demo go to the simulator (--delay, --chunks,
    // --wrong-ack, --refuse CMD, --silent ...).
    // A short device path, so the port list shows it whole.
    const QString link = QDir(QDir::tempPath()).filePath(QStringLiteral("ttyORDAN"));
    module.start(simulator,
                 QStringList{QStringLiteral("--exit-with-parent"), QStringLiteral("--link"), link} +
                     application.arguments().mid(1));
    QString devicePath;
    if (module.waitForStarted() && module.waitForReadyRead(10000))
        devicePath = QString::fromLocal8Bit(module.readLine()).trimmed();
    if (devicePath.isEmpty()) {
        QMessageBox::critical(
            nullptr, QStringLiteral("ordan-configurator-demo"),
            QStringLiteral("The module simulator did not start: %1").arg(module.errorString()));
        return 1;
    }
    PortCatalog::addDevicePath(devicePath);

    int result;
    {
        MainWindow window;
        // Pick the simulated module, listed after the computer's own ports.
        if (auto *ports = window.findChild<QComboBox *>(QStringLiteral("serialPortInfoListBox")))
            ports->setCurrentIndex(ports->findText(devicePath));
        presentMainWindow(window);
        result = application.exec();
    }
    module.terminate();
    if (!module.waitForFinished(3000))
        module.kill();
    return result;
}
