#ifndef DIALOGHELPERS_H
#define DIALOGHELPERS_H

#include <QDialogButtonBox>
#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

// Answers the modal message boxes the window opens, the way an engineer
// would, and records what each box said. Arm it before the action that opens
// the box; it polls the application's top-level widgets from the event loop
// (the nested loop of the box included).
class MessageBoxAnswerer : public QObject
{
    Q_OBJECT

public:
    struct Box {
        QString title;
        QString text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QStringList buttons; // button texts, in the order the box holds them
        QString answeredWith;
    };

    // How the next box is answered: click the button with this text, or
    // press Escape when the text is empty. Boxes beyond the queued answers
    // are answered with the first button (OK for the single-button boxes).
    explicit MessageBoxAnswerer(QObject *parent = nullptr);
    ~MessageBoxAnswerer() override;

    void answerNext(const QString &buttonText);
    void escapeNext() { answerNext(QString()); }
    // Runs while a box is up, before it is answered (from the box's own
    // event loop): to look at the window, or to let more happen meanwhile.
    void setWhileOpen(std::function<void(QMessageBox *)> action) { whileOpen = std::move(action); }

    const QList<Box> &boxes() const { return seen; }
    int count() const { return seen.size(); }
    Box last() const { return seen.isEmpty() ? Box() : seen.last(); }
    // Boxes visible right now, answered or not.
    static QList<QMessageBox *> openBoxes();
    void clear() { seen.clear(); }

private:
    void poll();

    QTimer timer;
    QList<QString> answers;
    QList<Box> seen;
    std::function<void(QMessageBox *)> whileOpen;
    bool busy = false;
};

// Answers the next non-native file dialog by typing a path into its
// fileNameEdit and accepting, or by rejecting it when the path is empty.
// Needs Qt::AA_DontUseNativeDialogs.
class FileDialogAnswerer : public QObject
{
    Q_OBJECT

public:
    explicit FileDialogAnswerer(QObject *parent = nullptr);
    void answerNext(const QString &path) { answers << path; }
    void cancelNext() { answers << QString(); }
    QString lastCaption() const { return caption; }
    QStringList lastFilters() const { return filters; }
    int count() const { return answered; }

private:
    void poll();

    QTimer timer;
    QList<QString> answers;
    QString caption;
    QStringList filters;
    int answered = 0;
};

// The child of `parent` with this object name; a test cannot go on
// without it, so a missing one ends the test program.
template <typename T> T *findNamed(const QObject &parent, const char *name)
{
    T *child = parent.findChild<T *>(QLatin1String(name));
    if (!child)
        qFatal("no widget named %s", name);
    return child;
}

#endif // DIALOGHELPERS_H
