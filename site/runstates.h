#ifndef RUNSTATES_H
#define RUNSTATES_H

#include "site/rowstage.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

class PlanRows;

// What a run (and a check of the network or the bus) found of each row of
// the plan: where the row stands, the module's MAC address, the cells
// whose module holds another value, whether it answers on the network,
// whether the devices of its bus answer, and the result. Each is held by
// its row's id (PlanRows::rowId), so that it stays with its row as rows
// are added and removed and a removal is undone; a new plan has none. A
// row verified (matched, done already) whose cells then change is "changed
// since verified": what the run found no longer stands for it.
class RunStates : public QObject
{
    Q_OBJECT

public:
    struct Found {
        RowProgress progress;
        QString mac;
        QString result;
        QHash<int, QString> differences; // column -> the value read (empty when missing)
        QString network;
        bool networkGood = false;
        QString bus;
        bool busGood = false;
        QStringList proven; // the cells a run proved (verified, matched)
    };

    explicit RunStates(const PlanRows *rows, QObject *parent = nullptr);

    // What was found of every row (or of one row only: a row run again)
    // goes.
    void clear();
    void clear(int row);
    // Whether any row shows what a run came to.
    bool any() const;
    // Where the row stands: ChangedSinceVerified while its cells differ
    // from those its run proved.
    RowProgress progress(int row) const;
    // What was found of the row, whatever its cells now.
    const Found &found(int row) const;

    // The row's stage; a verified one (matched, done already) proves the
    // cells the row has now.
    void setProgress(int row, const RowProgress &progress);
    void setMac(int row, const QString &mac);
    void setResult(int row, const QString &result);
    // Whether the row's module answers at its address and TCP port: the
    // outcome's words, and whether it counts as good; empty to clear.
    void setNetwork(int row, const QString &text, bool good);
    // Whether the devices of the row's bus_ids answer through its module:
    // the check's words, and whether it counts as good; empty to clear.
    void setBus(int row, const QString &text, bool good);
    // Cells whose module holds another value than planned: column -> the
    // value read (empty when missing).
    void setDifferences(int row, const QHash<int, QString> &read);

signals:
    // What was found of the row changed.
    void rowChanged(int row);

private:
    // The row's entry, made when it has none; null for no row.
    Found *entry(int row);

    const PlanRows *rows;
    QHash<quint64, Found> states; // row id -> what was found
};

#endif // RUNSTATES_H
