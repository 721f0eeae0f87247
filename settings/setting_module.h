#ifndef SETTING_MODULE_H
#define SETTING_MODULE_H

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class QSettings;

// One parameter set of the converter module, with the operations that write
// it to a settings file (*.TRset, Qt's INI format) or read it from one. It
// knows nothing of the window: the window moves values between its form and
// the fields below. The slots report nothing; outcome() tells how the last
// operation went.
//
// LoadNTSetting() and SaveNTSetting() without a file name ask the installed
// file chooser for one (the window installs its file dialog); without a
// chooser they get no name, and the file is neither read nor written.
class setting_module : public QObject
{
    Q_OBJECT

public:
    enum class Outcome {
        Done,
        NotRead,    // missing, unreadable or refused file: the fields hold defaults
        NotWritten, // no path, or the file could not be written
    };

    explicit setting_module(QObject *parent = nullptr);
    ~setting_module() override;

    Outcome outcome() const { return lastOutcome; }
    // The keys of a parameter set in a settings file, in the order written.
    static QStringList keyNames();

    // Asks the user for a settings file to open (Open) or to save to
    // (Save); an empty path when the user cancels.
    enum class FileAccess { Open, Save };
    using FileChooser = std::function<QString(FileAccess access)>;
    static void setFileChooser(FileChooser chooser);

public slots:
    void LoadNTSetting();
    void SaveNTSetting();
    void LoadNTSetting(const QString &FileName);
    void SaveNTSetting(const QString &FileName);

public:
    QString modul_name;
    QString ip_adress;
    QString mask;
    QString gateway;
    QString port_tcp;
    int speed_rs485 = 0;
    int stop_bit = 0;
    int parity = 0;
    int mode_tcp = 0;
    QString timeout_response;
    QString ip_server_tcp;
    QString timeout_tcp;
    QString rtu_virtual_id;
    QString tcp_slave_id;
    QString fileName;
    QSettings *settings = nullptr;

private:
    void replaceStore(QSettings *store);
    void readKeys();
    void writeKeys(QSettings &store) const;

    Outcome lastOutcome = Outcome::Done;
};

#endif // SETTING_MODULE_H
