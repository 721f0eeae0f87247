#include "engine/platform/tracelog.h"

#include "engine/platform/textsafety.h"

#include <QDateTime>

bool TraceLog::open(const QString &path)
{
    file.setFileName(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text);
}

QString TraceLog::timestamp()
{
    return timestamp(QDateTime::currentMSecsSinceEpoch());
}

QString TraceLog::timestamp(qint64 msSinceEpoch)
{
    // Always a numeric offset: Qt writes "Z" for a UTC offset of zero, and a
    // local time without its offset is ambiguous.
    const QDateTime time = QDateTime::fromMSecsSinceEpoch(msSinceEpoch);
    const int offset = time.offsetFromUtc();
    const int minutes = qAbs(offset) / 60;
    return time.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")) +
           (offset < 0 ? QLatin1Char('-') : QLatin1Char('+')) +
           QStringLiteral("%1:%2")
               .arg(minutes / 60, 2, 10, QLatin1Char('0'))
               .arg(minutes % 60, 2, 10, QLatin1Char('0'));
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
