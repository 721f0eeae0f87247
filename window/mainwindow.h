#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include <QMainWindow>
#include <QSerialPort>
#include <QString>

class QTimer;
class QWidget;
class ReplyFramer;
class SequenceProgress;
class TraceLog;
enum class ModuleField;
QT_BEGIN_NAMESPACE
class Ui_MainWindow;
QT_END_NAMESPACE

// The configurator's one window. Its reactions are the private slots below;
// the rules of the module's console live in protocol/ and engine/, the
// settings file in settings/, and the slots only apply them to the form.
// They are defined in this folder, a file per group: seriallink.cpp,
// channel.cpp, readout.cpp, write.cpp, restart.cpp, filecommands.cpp and
// mainwindow.cpp.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Writes the port's events, commands and replies to `log` from now on
    // (none by default). The log must outlive the window.
    void setTraceLog(TraceLog *log) { traceLog = log; }

private slots:
    void universal_show(int index);
    void on_scanport_clicked();
    void on_applyButton_clicked();
    void on_Reset_clicked();
    void on_scan_parameters_clicked();
    void readData();
    void openport();
    void closeport();
    void timerforScan();
    void Reset_Default();
    void change_mode_TCP();
    void scan_pa_modbus_all();
    void checkCustomDevicePathPolicy();
    void handleError(QSerialPort::SerialPortError error);
    void on_reset_allparameters_clicked();
    void on_checkBox_clicked(bool checked);
    void on_connect_clicked();
    void styleclear();
    void OnSaveSetting_File();
    void on_action_open_2_triggered();
    void on_action_show_triggered();
    void on_action_save_triggered();
    void on_action_triggered();

private:
    // Command channel helpers (channel.cpp).
    void sendCommand(const QByteArray &command);
    void handleReply(const QByteArray &bytes);
    void interpretReadoutReply();
    void interpretWriteReply();
    // Settings file helpers (filecommands.cpp).
    void applySettingsFile(bool openVariant);
    // Stops every timer and zeroes its step (seriallink.cpp).
    void stopAllSequences();
    // A line in the traffic log, if there is one (seriallink.cpp).
    void tracePortEvent(const QString &text);
    // The form's widget for a parameter of the module (channel.cpp).
    QWidget *fieldWidget(ModuleField field) const;

    Ui_MainWindow *ui;
    QSerialPort serial;
    QString replyText;
    QTimer *timerForScan;
    QTimer *timerChangeParameters;
    QTimer *timerScanAll;
    QTimer *timerChangeModeTcp;
    qint32 changeParametersStep;
    qint32 scanAllStep;
    qint32 scanStep;
    qint32 writeStep;
    bool restartRequested;
    QString settingsFileName;
    bool writeAcknowledged;

    // Frames the port's bytes into replies by a quiet gap on the line.
    ReplyFramer *replyFramer;
    // True while the empty-reply box is open, so a module that keeps sending
    // blank lines does not stack one modal box on another.
    bool emptyReplyBoxOpen = false;
    // The tick reached by the read-out or the write, in the status bar.
    SequenceProgress *sequenceProgress;
    TraceLog *traceLog = nullptr;
};

#endif // MAINWINDOW_H
