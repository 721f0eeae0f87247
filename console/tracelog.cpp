#include "console/tracelog.h"

#include "console/textsafety.h"

#include <QDateTime>

bool TraceLog::open(const QString &path)
{
    file.setFileName(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text);
}

QString TraceLog::timestamp()
{
    // One reading of the clock: the offset belongs to the same instant, even
    // across a change to or from summer time. A zero offset is written "Z".
    const QDateTime now = QDateTime::currentDateTime();
    return now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

void TraceLog::event(const QString &port, const QString &text)
{
    writeLine(textsafety::escapeControls(port).toUtf8() + ' ' +
              textsafety::escapeControls(text).toUtf8());
}

void TraceLog::sent(const QString &port, const QByteArray &bytes)
{
    writeLine(textsafety::escapeControls(port).toUtf8() + " > " + textsafety::escapeBytes(bytes));
}

void TraceLog::received(const QString &port, const QByteArray &bytes)
{
    writeLine(textsafety::escapeControls(port).toUtf8() + " < " + textsafety::escapeBytes(bytes));
}

void TraceLog::writeLine(const QByteArray &line)
{
    if (!file.isOpen())
        return;
    file.write(timestamp().toUtf8() + ' ' + line + '\n');
    file.flush();
}
