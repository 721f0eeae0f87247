#include "site/recordfield.h"

#include "engine/commission/recordpath.h"
#include "site/sitestyle.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QUrl>

namespace
{

// A file's one name, whichever way it is named.
QString sameFile(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() ? info.canonicalFilePath() : info.absoluteFilePath();
}

} // namespace

RecordField::RecordField(QWidget *parent) : QObject(parent)
{
    title = new QLabel(tr("Rec&ord:"), parent);
    pathEdit = new QLineEdit(parent);
    pathEdit->setObjectName(QStringLiteral("recordPath"));
    pathEdit->setPlaceholderText(tr("a record is always kept: choose its file"));
    title->setBuddy(pathEdit);
    connect(pathEdit, &QLineEdit::textChanged, this, [this] {
        check();
        emit edited();
    });
    browse = new QPushButton(tr("Choo&se…"), parent);
    browse->setObjectName(QStringLiteral("recordBrowseButton"));
    connect(browse, &QPushButton::clicked, this, &RecordField::askPath);
    open = new QPushButton(tr("O&pen"), parent);
    open->setObjectName(QStringLiteral("recordOpenButton"));
    open->setToolTip(tr("Opens the record in the desktop's program for CSV files"));
    connect(open, &QPushButton::clicked, this, &RecordField::openRecord);
}

QString RecordField::path() const
{
    return pathEdit->text().trimmed();
}

void RecordField::setPath(const QString &path)
{
    pathEdit->setText(path);
}

void RecordField::setShown(const QStringList &paths)
{
    shown.clear();
    for (const QString &path : paths)
        shown << sameFile(path);
    check();
}

bool RecordField::isShown() const
{
    return shown.contains(sameFile(path()));
}

void RecordField::check()
{
    QString why;
    problem = recordpath::checkAppendable(path(), commissionrecord::kind(), &why) ? QString() : why;
    // The record on screen is not appended to behind its viewer's back.
    if (problem.isEmpty() && isShown())
        problem = tr("%1 is shown read-only: close it to run into it").arg(path());
    siteStyle::markProblem(pathEdit, !problem.isEmpty());
    pathEdit->setToolTip(problem.isEmpty()
                             ? tr("A CSV file that gets one row per module as soon as it is "
                                  "done: its MAC address, the values read back and the result")
                             : problem);
    emit checked();
}

void RecordField::markRefused(const QString &why)
{
    siteStyle::markProblem(pathEdit, true);
    pathEdit->setToolTip(why);
}

void RecordField::setBusy(bool busy)
{
    browse->setEnabled(!busy);
    pathEdit->setReadOnly(busy);
    const QString file = path();
    open->setEnabled(!file.isEmpty() && QFileInfo(file).isFile());
}

void RecordField::askPath()
{
    const QString start = path();
    const QString chosen = QFileDialog::getSaveFileName(
        pathEdit, tr("Record"), start, tr("Records (*.csv);;All files (*)"), nullptr,
        QFileDialog::DontConfirmOverwrite); // the record is appended to, never overwritten
    if (!chosen.isEmpty())
        pathEdit->setText(chosen);
}

void RecordField::openRecord()
{
    const QString file = path();
    if (!file.isEmpty() && !QDesktopServices::openUrl(QUrl::fromLocalFile(file)))
        emit message(tr("No program to open %1").arg(file), 5000);
}
