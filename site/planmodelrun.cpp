// The states a run gives the plan's rows, and their words in the state
// column.
#include "site/planmodel.h"

#include "engine/platform/textsafety.h"

#include <algorithm>

void PlanModel::clearRun()
{
    for (int row = 0; row < rows.size(); ++row)
        clearRun(row);
}

void PlanModel::clearRun(int row)
{
    if (row < 0 || row >= rows.size())
        return;
    Row &r = rows[row];
    r.progress = RowProgress();
    r.proven.clear();
    r.mac.clear();
    r.result.clear();
    r.differences.clear();
    r.network.clear();
    r.bus.clear();
    emitRowStateChanged(row);
}

bool PlanModel::hasRunStates() const
{
    return std::any_of(rows.cbegin(), rows.cend(), [](const Row &row) {
        return row.progress.stage != RowStage::Idle || !row.result.isEmpty();
    });
}

RowProgress PlanModel::progress(int row) const
{
    if (row < 0 || row >= rows.size())
        return RowProgress();
    if (rows.at(row).changedSinceProven()) {
        RowProgress changed;
        changed.stage = RowStage::ChangedSinceVerified;
        return changed;
    }
    return rows.at(row).progress;
}

void PlanModel::emitRowStateChanged(int row)
{
    emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
}

void PlanModel::setProgress(int row, const RowProgress &progress)
{
    if (row < 0 || row >= rows.size())
        return;
    rows[row].progress = progress;
    // What a verified row proved: the cells it had.
    switch (progress.stage) {
    case RowStage::Verified:
    case RowStage::Matches:
    case RowStage::DoneElsewhere:
        rows[row].proven = rows.at(row).cells;
        break;
    default:
        rows[row].proven.clear();
        break;
    }
    emitRowStateChanged(row);
}

void PlanModel::setMac(int row, const QString &mac)
{
    if (row < 0 || row >= rows.size())
        return;
    rows[row].mac = textsafety::escapeControls(mac);
    emitRowStateChanged(row);
}

void PlanModel::setDifferences(int row, const QHash<int, QString> &read)
{
    if (row < 0 || row >= rows.size())
        return;
    rows[row].differences = read;
    emitRowStateChanged(row);
}

void PlanModel::setNetwork(int row, const QString &text, bool good)
{
    if (row < 0 || row >= rows.size())
        return;
    rows[row].network = text;
    rows[row].networkGood = good;
    emitRowStateChanged(row);
}

void PlanModel::setBus(int row, const QString &text, bool good)
{
    if (row < 0 || row >= rows.size())
        return;
    rows[row].bus = text;
    rows[row].busGood = good;
    emitRowStateChanged(row);
}

void PlanModel::setResult(int row, const QString &result)
{
    if (row < 0 || row >= rows.size())
        return;
    rows[row].result = textsafety::escapeControls(result);
    emitRowStateChanged(row);
}

QString PlanModel::stateText(int row) const
{
    const RowProgress p = progress(row);
    switch (p.stage) {
    case RowStage::Idle:
        return QString();
    case RowStage::Waiting:
        return tr("waiting");
    case RowStage::NextModule:
        return nextModulePrompt(row);
    case RowStage::Identifying:
        return tr("identifying");
    case RowStage::Writing:
        return tr("writing %1 of %2 (%3)").arg(p.step).arg(p.steps).arg(p.item);
    case RowStage::Restarting:
        return tr("restarting");
    case RowStage::ReadingBack:
        return p.steps > 0 ? tr("reading back %1 of %2").arg(p.step).arg(p.steps)
                           : tr("reading back");
    case RowStage::Reaching:
        return tr("checking the network");
    case RowStage::CheckingBus:
        return tr("checking the bus");
    case RowStage::Verified:
        return tr("verified");
    case RowStage::Matches:
        return tr("matches");
    case RowStage::Differs:
        return p.item.isEmpty() ? tr("differs") : tr("differs: %1").arg(p.item);
    case RowStage::Failed:
        return p.item.isEmpty() ? tr("failed") : tr("failed: %1").arg(p.item);
    case RowStage::Interrupted:
        return tr("interrupted");
    case RowStage::NotReached:
        return tr("not reached");
    case RowStage::HeldElsewhere:
        return tr("another station's: %1").arg(p.item);
    case RowStage::DoneElsewhere:
        return tr("done already: %1").arg(p.item);
    case RowStage::ChangedSinceVerified:
        return tr("changed since verified");
    }
    return QString();
}

QString PlanModel::nextModulePrompt(int row, bool twoLines) const
{
    const RowProgress p = progress(row);
    if (!p.note.isEmpty())
        return p.note;
    const QString label =
        twoLines ? QString(QChar(QChar::LineSeparator)) + portLabel(row) : portLabel(row);
    return p.firstModule ? tr("Connect the module to %1").arg(label)
                         : tr("Connect the next module to %1").arg(label);
}
