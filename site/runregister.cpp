#include "site/runregister.h"

#include "engine/commission/commissionplan.h"
#include "engine/commission/registerdesk.h"
#include "engine/register/planstanding.h"
#include "engine/register/siteregister.h"
#include "site/planrows.h"

#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QUndoStack>

using namespace siteregister;

RunRegister::RunRegister(const PlanRows *plan, QObject *parent) : QObject(parent), plan(plan) {}

RunRegister::~RunRegister() = default;

void RunRegister::setLocation(const QString &location, bool none)
{
    named = location.trimmed();
    off = none;
}

bool RunRegister::location(Location *location, QString *error) const
{
    return chooseLocation(!named.isEmpty(), named, off, location, error);
}

QByteArray RunRegister::planBytes() const
{
    QByteArray bytes;
    QString problem;
    if (!planFile.isEmpty() && plan->undoStack()->isClean() &&
        commissionplan::readFile(planFile, &bytes, &problem))
        return bytes;
    return plan->toCsv();
}

QString RunRegister::shown() const
{
    return runDesk ? runDesk->shown() : QString();
}

void RunRegister::close()
{
    runDesk.reset();
}

RunRegister::Start RunRegister::open(const QString &record, const QString &replacing,
                                     const Opened &done, QString *error)
{
    Location where;
    if (!location(&where, error))
        return Start::Refused;
    runDesk.reset();
    if (where.kind == Location::Kind::None)
        return Start::Unused;
    runDesk = std::make_unique<RegisterDesk>();
    // A register that stalls holds up no window, when it opens nor when
    // the run has ended.
    runDesk->setWaitAtEnd(false);
    const RunInfo info = RegisterDesk::planRun(
        replacing.isEmpty() ? QStringLiteral("ordan-site") : QStringLiteral("ordan-site replace"),
        planFile.isEmpty() ? tr("the window's plan") : QFileInfo(planFile).absoluteFilePath(),
        planBytes(), QFileInfo(record).absoluteFilePath());
    const QPointer<RunRegister> self(this);
    runDesk->open(where, info, [self, done](bool opened, const QString &why) {
        // The window asks where ordan-cli stops and waits for --rewrite
        // (when someone is there to answer).
        if (opened && self && self->runDesk && self->dialogParent)
            self->runDesk->setQuestion(
                [self](int planRow, const QString &words, std::function<void(bool)> answer) {
                    if (!self) {
                        answer(false);
                        return;
                    }
                    self->askRewrite(planRow, words, std::move(answer));
                });
        done(opened, why);
    });
    return Start::Opening;
}

void RunRegister::askRewrite(int planRow, const QString &words, std::function<void(bool)> answer)
{
    auto *box = new QMessageBox(QMessageBox::Question, tr("Write this module?"),
                                tr("Row %1: %2.").arg(planRow).arg(words), QMessageBox::NoButton,
                                dialogParent);
    box->setObjectName(QStringLiteral("rewriteQuestion"));
    box->setInformativeText(
        tr("Write it with the row's values anyway? The register notes the rewrite. "
           "Otherwise nothing is written and the row stops."));
    box->addButton(tr("&Write it"), QMessageBox::AcceptRole);
    box->setDefaultButton(box->addButton(tr("&Stop the row"), QMessageBox::RejectRole));
    box->setAttribute(Qt::WA_DeleteOnClose);
    // Answered once: a run stopped meanwhile closes it unanswered.
    auto once = std::make_shared<std::function<void(bool)>>(std::move(answer));
    connect(box, &QMessageBox::finished, this, [box, once](int) {
        if (!*once)
            return;
        const bool write = box->buttonRole(box->clickedButton()) == QMessageBox::AcceptRole;
        (*once)(write);
        *once = nullptr;
    });
    box->open();
}

void RunRegister::rowModule(int row, const RowModule &done)
{
    const int index = plan->checked().tableRows().indexOf(row);
    if (index < 0) {
        done(ModuleEntry(), tr("the row is not a checked row of the plan"));
        return;
    }
    Location where;
    QString error;
    if (!location(&where, &error)) {
        done(ModuleEntry(), error);
        return;
    }
    if (where.kind == Location::Kind::None) {
        done(ModuleEntry(), tr("no register is used"));
        return;
    }
    // A question still unanswered is let go: this one is asked anew.
    lookup = std::make_unique<RegisterDesk>();
    lookup->setWaitAtEnd(false);
    const commissionplan::Row &planned = plan->checked().plan().rows.at(index);
    const QByteArray bytes = planBytes();
    const PlannedRow asked{planned.row, planned.port, planned.values};
    const QString none = tr("the register knows no module of row %1").arg(planned.row);
    lookup->post([where, bytes, asked, none, done](SiteRegister &reg) -> std::function<void()> {
        QString why;
        QList<RowStanding> standing;
        ModuleEntry module;
        QString key;
        if (reg.open(where, &why, SiteRegister::Access::Read) &&
            !(key = RegisterDesk::planKey(reg, bytes, &why)).isEmpty() &&
            siteStanding(reg, key, {asked}, &standing, &why)) {
            if (standing.isEmpty() || !standing.first().module.known())
                why = none;
            else
                module = standing.first().module;
        }
        return [done, module, why] { done(module, why); };
    });
}
