#include "dialoghelpers.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QPointer>
#include <QTest>

static const char answeredMark[] = "ordanAnsweredByTest";

MessageBoxAnswerer::MessageBoxAnswerer(QObject *parent) : QObject(parent)
{
    connect(&timer, &QTimer::timeout, this, &MessageBoxAnswerer::poll);
    timer.start(10);
}

MessageBoxAnswerer::~MessageBoxAnswerer() = default;

void MessageBoxAnswerer::answerNext(const QString &buttonText)
{
    answers << buttonText;
}

QList<QMessageBox *> MessageBoxAnswerer::openBoxes()
{
    QList<QMessageBox *> open;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        auto *box = qobject_cast<QMessageBox *>(widget);
        if (box && box->isVisible())
            open << box;
    }
    return open;
}

void MessageBoxAnswerer::poll()
{
    if (busy)
        return;
    for (QMessageBox *box : openBoxes()) {
        // The mark sits on the box itself: a box built where an answered one
        // stood (two boxes from the same call, one after the other) shares its
        // address but is a new box.
        if (box->property(answeredMark).toBool())
            continue;
        box->setProperty(answeredMark, true);
        Box record;
        record.title = box->windowTitle();
        record.text = box->text();
        record.icon = box->icon();
        for (QAbstractButton *button : box->buttons())
            record.buttons << button->text();
        const QString answer = answers.isEmpty() ? QStringLiteral("\x01") : answers.takeFirst();
        QPointer<QMessageBox> guard(box);
        if (whileOpen) {
            busy = true;
            whileOpen(box);
            busy = false;
            if (!guard)
                return;
        }
        if (answer.isEmpty()) {
            record.answeredWith = QStringLiteral("Escape");
            seen << record;
            QTest::keyClick(box, Qt::Key_Escape);
        } else {
            QAbstractButton *target = nullptr;
            for (QAbstractButton *button : box->buttons()) {
                if (answer == QStringLiteral("\x01") || button->text() == answer) {
                    target = button;
                    break;
                }
            }
            record.answeredWith = target ? target->text() : QStringLiteral("Escape");
            seen << record;
            if (target)
                target->click();
            else
                QTest::keyClick(box, Qt::Key_Escape);
        }
        if (guard && guard->isVisible())
            guard->done(0); // an OK-only box ignores nothing, but be sure it goes
        return;             // one box per poll: the click may have opened the next
    }
}

FileDialogAnswerer::FileDialogAnswerer(QObject *parent) : QObject(parent)
{
    connect(&timer, &QTimer::timeout, this, &FileDialogAnswerer::poll);
    timer.start(10);
}

void FileDialogAnswerer::poll()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        auto *dialog = qobject_cast<QFileDialog *>(widget);
        if (!dialog || !dialog->isVisible() || answers.isEmpty())
            continue;
        caption = dialog->windowTitle();
        filters = dialog->nameFilters();
        ++answered;
        const QString path = answers.takeFirst();
        if (path.isEmpty()) {
            dialog->reject();
            return;
        }
        auto *edit = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        if (edit)
            edit->setText(path);
        QMetaObject::invokeMethod(dialog, "accept");
        return;
    }
}
