#include "site/runstates.h"

#include "engine/platform/textsafety.h"
#include "site/planrows.h"

RunStates::RunStates(const PlanRows *rows, QObject *parent) : QObject(parent), rows(rows)
{
    // A new plan: what a run found of the rows before went with them.
    connect(rows, &PlanRows::replaced, this, [this] { states.clear(); });
}

void RunStates::clear()
{
    for (int row = 0; row < rows->rowCount(); ++row)
        clear(row);
}

void RunStates::clear(int row)
{
    if (row < 0 || row >= rows->rowCount())
        return;
    states.remove(rows->rowId(row));
    emit rowChanged(row);
}

bool RunStates::any() const
{
    for (int row = 0; row < rows->rowCount(); ++row) {
        const Found &f = found(row);
        if (f.progress.stage != RowStage::Idle || !f.result.isEmpty())
            return true;
    }
    return false;
}

RowProgress RunStates::progress(int row) const
{
    if (row < 0 || row >= rows->rowCount())
        return RowProgress();
    const Found &f = found(row);
    if (!f.proven.isEmpty() && rows->cells(row) != f.proven) {
        RowProgress changed;
        changed.stage = RowStage::ChangedSinceVerified;
        return changed;
    }
    return f.progress;
}

const RunStates::Found &RunStates::found(int row) const
{
    static const Found none;
    if (row < 0 || row >= rows->rowCount())
        return none;
    const auto it = states.constFind(rows->rowId(row));
    return it == states.constEnd() ? none : *it;
}

RunStates::Found *RunStates::entry(int row)
{
    if (row < 0 || row >= rows->rowCount())
        return nullptr;
    return &states[rows->rowId(row)];
}

void RunStates::setProgress(int row, const RowProgress &progress)
{
    Found *f = entry(row);
    if (!f)
        return;
    f->progress = progress;
    // What a verified row proved: the cells it had.
    switch (progress.stage) {
    case RowStage::Verified:
    case RowStage::Matches:
    case RowStage::DoneElsewhere:
        f->proven = rows->cells(row);
        break;
    default:
        f->proven.clear();
        break;
    }
    emit rowChanged(row);
}

void RunStates::setMac(int row, const QString &mac)
{
    if (Found *f = entry(row)) {
        f->mac = textsafety::escapeControls(mac);
        emit rowChanged(row);
    }
}

void RunStates::setResult(int row, const QString &result)
{
    if (Found *f = entry(row)) {
        f->result = textsafety::escapeControls(result);
        emit rowChanged(row);
    }
}

void RunStates::setNetwork(int row, const QString &text, bool good)
{
    if (Found *f = entry(row)) {
        f->network = text;
        f->networkGood = good;
        emit rowChanged(row);
    }
}

void RunStates::setBus(int row, const QString &text, bool good)
{
    if (Found *f = entry(row)) {
        f->bus = text;
        f->busGood = good;
        emit rowChanged(row);
    }
}

void RunStates::setDifferences(int row, const QHash<int, QString> &read)
{
    if (Found *f = entry(row)) {
        f->differences = read;
        emit rowChanged(row);
    }
}
