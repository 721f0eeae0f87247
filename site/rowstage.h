#ifndef ROWSTAGE_H
#define ROWSTAGE_H

#include "engine/jobs/modulejob.h"
#include "engine/jobs/rowoutcome.h"

#include <QString>

// Where a row of the plan stands in a run of the site window.
enum class RowStage {
    Idle,        // no run has reached the row yet
    Waiting,     // in the run, its port busy with an earlier row
    NextModule,  // its port waits for the next module to be connected
    Identifying, // name, version and MAC address asked
    Writing,     // the parameters sent, one command each
    Restarting,  // "reset" sent, waiting for the module to come back
    ReadingBack, // the read-out after the restart
    Reaching,    // verified: its address and TCP port tried on the network
    CheckingBus, // reachable: the devices of its bus_ids asked through it
    Verified,    // written, restarted, read back and equal to the plan
    Matches,     // audit: the module holds what the plan says
    Differs,     // the module holds other values than the plan's
    Failed,      // port not opened, no answer, a command refused
    Interrupted, // stopped by the user while the row ran
    NotReached,  // the run ended before the row began
    // The site register's: the row is another station's now (item: whose,
    // since when), or was verified by another run (by whom, when, on which
    // module).
    HeldElsewhere,
    DoneElsewhere,
    // The row was verified (or matched, or done already), then edited: what
    // the run proved is not what the row now plans.
    ChangedSinceVerified,
};

struct RowProgress {
    RowStage stage = RowStage::Idle;
    int step = 0; // k of `steps` within the stage; 0 when not counted
    int steps = 0;
    QString item; // the parameter written, the query asked, or who holds the row
    // NextModule: the port waits for its first module, not the next one.
    bool firstModule = false;
    // NextModule: what the port says meanwhile (a module done already
    // plugged in again); empty for the plain prompt.
    QString note;
    // A final stage: what the row came to, in the engine's words
    // (RowWording::shortLine).
    QString ended;
};

// The row's stage while its job runs, from the job's own stage
// (WriteJob::stageChanged): `index` of `total` within it, `what` in hand.
RowProgress rowProgress(JobStage stage, int index, int total, const QString &what);

// The row's last stage, from what it came to: its status, and the
// outcome's own words for it.
RowProgress finishedProgress(const RowOutcome &outcome);

// A stage the row does not leave in this run.
bool isFinal(RowStage stage);
// A stage in which the row's module is being talked to.
bool isActive(RowStage stage);

#endif // ROWSTAGE_H
