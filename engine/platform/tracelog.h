#ifndef TRACELOG_H
#define TRACELOG_H

#include <QByteArray>
#include <QFile>
#include <QString>

// A traffic log for support: one line per event, appended, each starting
// with the local time in ISO 8601 with milliseconds and offset, flushed as
// soon as it is written so that a crash or a pulled cable loses nothing.
// Bytes from the line are escaped (textsafety), so a reply can never forge
// or break a line of the log.
class TraceLog
{
public:
    TraceLog() = default;
    TraceLog(const TraceLog &) = delete;
    TraceLog &operator=(const TraceLog &) = delete;

    // Opens the file for appending (created when missing). False with
    // errorString() set when it cannot be opened.
    bool open(const QString &path);
    bool isOpen() const { return file.isOpen(); }
    QString errorString() const { return file.errorString(); }

    // "PORT event", free text of the program's own (escaped all the same).
    void event(const QString &port, const QString &text);
    // "PORT > bytes": a command sent, exact bytes.
    void sent(const QString &port, const QByteArray &bytes);
    // "PORT < bytes": a framed reply, exact bytes.
    void received(const QString &port, const QByteArray &bytes);

    // The time stamp every line starts with: local time in ISO 8601 with
    // milliseconds and the UTC offset, now or of a moment in milliseconds
    // since 1970 (the records and the register write the same).
    static QString timestamp();
    static QString timestamp(qint64 msSinceEpoch);

private:
    void writeLine(const QByteArray &line);

    QFile file;
};

#endif // TRACELOG_H
