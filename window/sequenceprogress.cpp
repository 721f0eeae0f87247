#include "window/sequenceprogress.h"

#include <QProgressBar>
#include <QStatusBar>

namespace
{
// Often enough to follow one-second ticks and to vanish promptly at the end.
constexpr int watchIntervalMs = 100;
} // namespace

SequenceProgress::SequenceProgress(QStatusBar *statusBar, const Sequence &readout,
                                   const Sequence &write, QObject *parent)
    : QObject(parent), progressBar(new QProgressBar(statusBar)), sequences{readout, write}
{
    progressBar->setObjectName(QStringLiteral("sequenceProgress"));
    progressBar->setTextVisible(true);
    progressBar->setFormat(QStringLiteral("%v / %m"));
    progressBar->setMaximumWidth(140);
    progressBar->hide();
    statusBar->addPermanentWidget(progressBar);

    watch.setInterval(watchIntervalMs);
    connect(&watch, &QTimer::timeout, this, &SequenceProgress::refresh);
    for (const Sequence &sequence : sequences) {
        // Queued behind the tick's own slot, whatever the order of connection.
        connect(sequence.timer, &QTimer::timeout, this, &SequenceProgress::refresh,
                Qt::QueuedConnection);
    }
}

void SequenceProgress::refresh()
{
    for (const Sequence &sequence : sequences) {
        if (!sequence.timer->isActive())
            continue;
        progressBar->setRange(0, sequence.total);
        progressBar->setValue(qBound(0, int(*sequence.step), sequence.total));
        progressBar->show();
        if (!watch.isActive())
            watch.start();
        return;
    }
    progressBar->hide();
    progressBar->reset();
    watch.stop();
}
