#ifndef SEQUENCEPROGRESS_H
#define SEQUENCEPROGRESS_H

#include <QObject>
#include <QTimer>

class QProgressBar;
class QStatusBar;

// Shows how far the read-out or the write has come: a progress bar on the
// right of the status bar (object name "sequenceProgress") with the tick
// reached of the sequence's total, hidden whenever no sequence runs.
//
// It only watches: the sequences keep their timers and step counters as
// they are, and this object reads them. It looks again right after every
// start click and every tick, and while a sequence runs also a few times a
// second, which catches every way a sequence ends (its last tick, a stop
// click, an abort, a lost port, a disconnect) without the sequences having
// to tell it.
class SequenceProgress : public QObject
{
    Q_OBJECT

public:
    struct Sequence {
        const QTimer *timer; // runs while the sequence runs
        const qint32 *step;  // the tick reached
        int total;           // the tick that ends it
    };

    SequenceProgress(QStatusBar *statusBar, const Sequence &readout, const Sequence &write,
                     QObject *parent);

    // Looks at the sequences now and shows what it finds.
    void refresh();

    QProgressBar *bar() const { return progressBar; }

private:
    QProgressBar *progressBar;
    Sequence sequences[2];
    QTimer watch;
};

#endif // SEQUENCEPROGRESS_H
