// The site window's runs and the site register: opened as a run starts,
// the engineer's question before a rewrite, and the replacement of a
// row's module.
#include "engine/commission/commissionplan.h"
#include "engine/commission/commissionrun.h"
#include "engine/commission/registerdesk.h"
#include "engine/register/planstanding.h"
#include "engine/register/registerverdict.h"
#include "engine/register/siteregister.h"
#include "site/planmodel.h"
#include "site/siterun.h"

#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QUndoStack>

using namespace siteregister;

void SiteRun::setRegister(const QString &location, bool off)
{
    registerAt = location.trimmed();
    noRegister = off;
}

bool SiteRun::registerLocation(Location *location, QString *error) const
{
    return chooseLocation(!registerAt.isEmpty(), registerAt, noRegister, location, error);
}

QByteArray SiteRun::planBytes() const
{
    QByteArray bytes;
    QString problem;
    if (!planFile.isEmpty() && model->undoStack()->isClean() &&
        commissionplan::readFile(planFile, &bytes, &problem))
        return bytes;
    return model->toCsv();
}

bool SiteRun::openRegister(CommissionRun *commission, const QString &record)
{
    Location location;
    QString error;
    if (!registerLocation(&location, &error)) {
        refused << tr("The register cannot be used: %1").arg(error);
        return false;
    }
    desk.reset();
    if (location.kind == Location::Kind::None)
        return true;
    auto opened = std::make_unique<RegisterDesk>();
    const RunInfo info = RegisterDesk::planRun(
        replacing.isEmpty() ? QStringLiteral("ordan-site") : QStringLiteral("ordan-site replace"),
        planFile.isEmpty() ? tr("the window's plan") : QFileInfo(planFile).absoluteFilePath(),
        planBytes(), QFileInfo(record).absoluteFilePath());
    if (!opened->open(location, info, &error)) {
        refused << error;
        refusedCode = int(JobResult::RegisterFailed);
        return false;
    }
    // The window asks where ordan-cli stops and waits for --rewrite (when
    // someone is there to answer).
    const QPointer<SiteRun> self(this);
    if (dialogParent)
        opened->setQuestion(
            [self](int planRow, const QString &words, std::function<void(bool)> answer) {
                if (!self) {
                    answer(false);
                    return;
                }
                self->askRewrite(planRow, words, std::move(answer));
            });
    desk = std::move(opened);
    commission->setRegister(desk.get());
    commission->setReplaces(replacing);
    return true;
}

void SiteRun::askRewrite(int planRow, const QString &words, std::function<void(bool)> answer)
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

bool SiteRun::rowModule(int row, ModuleEntry *module, QString *error) const
{
    *module = ModuleEntry();
    const int index = model->checkedTableRows().indexOf(row);
    if (index < 0) {
        *error = tr("the row is not a checked row of the plan");
        return false;
    }
    Location location;
    if (!registerLocation(&location, error))
        return false;
    if (location.kind == Location::Kind::None) {
        *error = tr("no register is used");
        return false;
    }
    SiteRegister reg;
    const commissionplan::Row &planned = model->checkedPlan().rows.at(index);
    QList<RowStanding> standing;
    if (!reg.open(location, error) ||
        !siteStanding(reg, commissionplan::identity(planBytes()),
                      {PlannedRow{planned.row, planned.port, planned.values}}, &standing, error))
        return false;
    if (standing.isEmpty() || !standing.first().module.known()) {
        *error = tr("the register knows no module of row %1").arg(planned.row);
        return false;
    }
    *module = standing.first().module;
    return true;
}

bool SiteRun::startReplacement(int row, const ModuleEntry &old, const QString &record,
                               const JobSettings &settings)
{
    replacing = old.mac;
    replacementValues = siteregister::replacementValues(old);
    if (start(Mode::Commission, record, settings, {row}))
        return true;
    replacing.clear();
    return false;
}
