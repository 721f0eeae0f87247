#include "engine/jobs/bussettingssearch.h"

#include "engine/jobs/readjob.h"
#include "engine/jobs/writejob.h"

namespace
{

// Lets an object that may be in the middle of emitting go later.
template <typename T> void retire(std::unique_ptr<T> &object)
{
    if (object)
        object.release()->deleteLater();
}

} // namespace

QList<BusSettingsSearch::Setting> BusSettingsSearch::order()
{
    QList<Setting> list;
    for (const char *speed : {"9600", "19200", "38400", "115200", "57600", "4800", "2400", "1200",
                              "128000", "256000"}) {
        for (const char *parity : {"none", "even", "odd"})
            list.append({QLatin1String(speed), QLatin1String(parity)});
    }
    return list;
}

QString BusSettingsSearch::text(const Setting &setting, const QString &stopBits)
{
    const QChar parity =
        setting.parity.isEmpty() ? QLatin1Char('?') : setting.parity.at(0).toUpper();
    return QStringLiteral("%1 8%2%3").arg(setting.speed, parity, stopBits);
}

BusSettingsSearch::BusSettingsSearch(const Settings &settings, QObject *parent)
    : QObject(parent), config(settings)
{
    config.job.reachTimeoutMs = 0; // the probe is the network's check here
    if (config.scan.ids.isEmpty() && config.scan.expected.isEmpty())
        config.scan.ids = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
}

BusSettingsSearch::~BusSettingsSearch() = default;

const BusSettingsSearch::Try *BusSettingsSearch::found() const
{
    if (result != Outcome::Found || done.isEmpty())
        return nullptr;
    return &done.last();
}

int BusSettingsSearch::triesWritten() const
{
    int n = 0;
    for (const Try &t : done)
        n += t.written ? 1 : 0;
    return n;
}

void BusSettingsSearch::start()
{
    clock.start();
    QString busy;
    if (!lock.acquire(config.consolePort, &busy)) {
        end(Outcome::Failed, busy, int(JobResult::PortUnavailable));
        return;
    }
    reader = std::make_unique<ReadJob>(config.consolePort, config.job);
    reader->setProgress(progressHandler);
    connect(reader.get(), &ModuleJob::finished, this, &BusSettingsSearch::onRead,
            Qt::QueuedConnection);
    // The bus at the settings the module runs with, probed while the
    // console is read: a probe only reads from the bus.
    done.append(Try());
    tryClock.start();
    emit tryStarted(0, tr("the module's own settings"), false);
    reader->start();
    probe(false);
}

void BusSettingsSearch::interrupt()
{
    if (finishedFlag)
        return;
    const bool writing = writer && !writer->isFinished();
    if (writing)
        interruptedWrite = text(writerSetting, oldStopBits);
    end(Outcome::Interrupted, tr("interrupted"));
    if (writing)
        writer->interrupt();
    if (reader && !reader->isFinished())
        reader->interrupt();
}

void BusSettingsSearch::onRead()
{
    if (finishedFlag)
        return;
    if (!reader->succeeded()) {
        end(Outcome::Failed, reader->error() + tr("; nothing was written"), reader->exitCode());
        return;
    }
    const ModuleReading r = reader->reading();
    moduleMac = r.mac();
    if (moduleMac.isEmpty()) {
        end(Outcome::Failed, tr("not identified: %1; nothing was written").arg(notIdentified(r)),
            int(JobResult::NoAnswer));
        return;
    }
    old = {r.values.value(ModuleField::Speed), r.values.value(ModuleField::Parity)};
    oldStopBits = r.values.value(ModuleField::StopBit);
    if (old.speed.isEmpty() || old.parity.isEmpty() || oldStopBits.isEmpty()) {
        end(Outcome::Failed,
            tr("the module did not give its speed, parity and stop bits; nothing was written"),
            int(JobResult::NoAnswer));
        return;
    }
    // The bus probed must be this module's: its address and TCP port.
    const QString at =
        r.values.value(ModuleField::Ip) + QLatin1Char(':') + r.values.value(ModuleField::PortTcp);
    const QString target =
        QStringLiteral("%1:%2").arg(config.scan.host.toString()).arg(config.scan.port);
    if (at != target) {
        end(Outcome::WrongModule,
            tr("the module on %1 (%2) runs at %3, not at %4; nothing was written")
                .arg(config.consolePort, moduleMac, at, target),
            int(JobResult::Invalid));
        return;
    }
    lastReadBack = r.values;
    queue = order();
    queue.removeAll(old);
    done.first().setting = old;
    consoleDone = true;
    advance();
}

void BusSettingsSearch::probe(bool afterWrite)
{
    BusScanSettings s = config.scan;
    // The gap between a reply and the next request at the speed tried.
    if (!done.isEmpty() && done.last().setting.speed.toInt() > 0)
        s.lineBaud = done.last().setting.speed.toInt();
    if (afterWrite)
        s.connectRetryMs = qMax(s.connectRetryMs, config.networkTimeoutMs);
    retire(scan);
    scan = std::make_unique<BusScan>(s);
    connect(scan.get(), &BusScan::finished, this, &BusSettingsSearch::onProbed,
            Qt::QueuedConnection);
    if (progressHandler) {
        connect(scan.get(), &BusScan::progress, this, [this](int index, int total, int unit, int) {
            progressHandler(config.consolePort, index + 1, total,
                            QStringLiteral("probing unit %1").arg(unit));
        });
    }
    probeStarted = true;
    probeClock.start();
    scan->start();
}

void BusSettingsSearch::onProbed()
{
    if (finishedFlag || restoring)
        return;
    Try &t = done.last();
    t.probeMs = qMax(1, int(probeClock.elapsed()));
    t.report = scan->report();
    advance();
}

// A try ends when both its console side (the read, or the verified write)
// and its probe have: then the next, the end, or the write back.
void BusSettingsSearch::advance()
{
    if (finishedFlag || restoring || !consoleDone)
        return;
    Try &t = done.last();
    if (t.written && !t.verified) {
        t.ms = int(tryClock.elapsed());
        emit tryFinished(done.size() - 1);
        failure = tr("writing %1 failed: %2").arg(text(t.setting, oldStopBits), t.writeError);
        failedExit = int(t.writeResult);
        restore(Outcome::Failed);
        return;
    }
    if (!probeStarted) {
        probe(true);
        return;
    }
    if (!scan->isFinished())
        return;
    t.ms = int(tryClock.elapsed());
    emit tryFinished(done.size() - 1);
    switch (t.report.verdict()) {
    case BusReport::Verdict::Interrupted:
        return;
    case BusReport::Verdict::NotReached:
        failure = t.report.diagnosis();
        if (t.written)
            restore(Outcome::NotReached);
        else
            end(Outcome::NotReached, failure, int(JobResult::PortUnavailable));
        return;
    case BusReport::Verdict::NothingAnswers:
        nextTry();
        return;
    case BusReport::Verdict::Found:
    case BusReport::Verdict::Missing:
    case BusReport::Verdict::PoorLine:
        break;
    }
    if (t.written && rewritten)
        rewritten(moduleMac, lastReadBack);
    end(Outcome::Found);
}

// The next setting: a verified write, and a probe from the moment the
// module is back (alongside the read-back, which decides whether the
// probe counts).
void BusSettingsSearch::nextTry()
{
    if (queue.isEmpty()) {
        restore(Outcome::NotFound);
        return;
    }
    // A try begins only when it and the write back may end in time, each
    // as long as the last.
    const Try &last = done.last();
    const int lastCost = last.written ? last.ms + last.writeMs : 0;
    if (config.findTimeoutMs > 0 && clock.elapsed() + lastCost > config.findTimeoutMs) {
        restore(Outcome::TimeUp);
        return;
    }
    Try next;
    next.setting = queue.takeFirst();
    next.written = true;
    done.append(next);
    consoleDone = false;
    probeStarted = false;
    tryClock.start();
    emit tryStarted(done.size() - 1, text(next.setting, oldStopBits), true);
    write(next.setting, [this] {
        Try &t = done.last();
        t.writeMs = int(writeClock.elapsed());
        t.writeResult = writer->result();
        t.writeError = writer->error();
        const RowOutcome &outcome = writer->outcome();
        t.verified = outcome.status == RowOutcome::Status::Verified;
        if (t.verified)
            lastReadBack = outcome.result().readBack.values;
        else if (scan && !scan->isFinished())
            scan->stop(); // a probe of settings not verified does not count
        consoleDone = true;
        advance();
    });
    connect(writer.get(), &ModuleJob::stageChanged, this, [this](JobStage stage) {
        if (stage == JobStage::ReadingBack && !probeStarted && !restoring && !finishedFlag)
            probe(true);
    });
}

void BusSettingsSearch::write(const Setting &setting, std::function<void()> then)
{
    retire(writer);
    writerSetting = setting;
    writer = std::make_unique<WriteJob>(config.consolePort,
                                        parameters::Values{{ModuleField::Speed, setting.speed},
                                                           {ModuleField::Parity, setting.parity}},
                                        config.job);
    writer->setVerify(true);
    const QString mac = moduleMac;
    writer->setAdmission([mac](const QString &identified, const WriteJob::Answered &answered) {
        WriteJob::Admission answer;
        if (identified != mac) {
            answer.verdict = WriteJob::Admission::Verdict::Stop;
            answer.words =
                tr("another module is on the port now (%1, not %2)").arg(identified, mac);
        }
        answered(answer);
    });
    writer->setProgress(progressHandler);
    connect(
        writer.get(), &ModuleJob::finished, this,
        [this, then = std::move(then)] {
            if (!finishedFlag)
                then();
        },
        Qt::QueuedConnection);
    writeClock.start();
    writer->start();
}

// Back to the settings the module had, verified; then the end, for `why`.
void BusSettingsSearch::restore(Outcome why)
{
    if (triesWritten() == 0) {
        end(why, failure, failedExit);
        return;
    }
    restoring = true;
    if (scan && !scan->isFinished())
        scan->stop();
    emit restoringSettings(text(old, oldStopBits));
    write(old, [this, why] {
        if (writer->outcome().status == RowOutcome::Status::Verified) {
            restoredVerified = true;
            end(why, failure, failedExit);
            return;
        }
        const QString problem =
            tr("writing back %1 failed: %2").arg(text(old, oldStopBits), writer->error());
        end(Outcome::RestoreFailed,
            failure.isEmpty() ? problem : failure + QStringLiteral("; ") + problem,
            failedExit ? failedExit : writer->exitCode());
    });
}

void BusSettingsSearch::end(Outcome outcome, const QString &error, int jobExit)
{
    if (finishedFlag)
        return;
    finishedFlag = true;
    if (scan && !scan->isFinished())
        scan->stop();
    result = outcome;
    failure = error;
    failedExit = jobExit;
    lock.release();
    emit finished();
}

int BusSettingsSearch::exitCode() const
{
    switch (result) {
    case Outcome::Found:
        return found() ? found()->report.exitCode() : 0;
    case Outcome::NotFound:
    case Outcome::TimeUp:
        return int(JobResult::NoAnswer);
    case Outcome::NotReached:
        return int(JobResult::PortUnavailable);
    case Outcome::WrongModule:
        return int(JobResult::Invalid);
    case Outcome::Failed:
    case Outcome::RestoreFailed:
        return failedExit ? failedExit : int(JobResult::NoAnswer);
    case Outcome::Interrupted:
        return int(JobResult::Interrupted);
    }
    return int(JobResult::NoAnswer);
}

QString BusSettingsSearch::conclusion() const
{
    const QString was = text(old, oldStopBits);
    const int n = triesWritten();
    // What was done and read back: written back and verified, or never
    // written; otherwise the module's settings are not known.
    const QString back = restoredVerified ? tr("the module is back at %1, verified").arg(was)
                         : n == 0 ? tr("nothing was written, the module stays at %1").arg(was)
                                  : tr("the module was not written back to %1").arg(was);
    switch (result) {
    case Outcome::Found:
        if (n == 0)
            return tr("the bus answers at the module's own settings, %1: nothing written").arg(was);
        return tr("bus found at %1 after %2 %3")
            .arg(text(done.last().setting, oldStopBits))
            .arg(n)
            .arg(n == 1 ? tr("try") : tr("tries"));
    case Outcome::NotFound:
        return tr("nothing answers at any setting: %1").arg(back);
    case Outcome::TimeUp:
        return tr("the search's time ran out after %1 %2: %3")
            .arg(n)
            .arg(n == 1 ? tr("try") : tr("tries"))
            .arg(back);
    case Outcome::NotReached:
    case Outcome::Failed:
        return n > 0 ? failure + QStringLiteral("; ") + back : failure;
    case Outcome::WrongModule:
    case Outcome::RestoreFailed:
        return failure;
    case Outcome::Interrupted: {
        if (n == 0 && interruptedWrite.isEmpty())
            return tr("interrupted: nothing was written");
        QString where = was;
        for (const Try &t : done) {
            if (t.verified)
                where = text(t.setting, oldStopBits);
        }
        if (!interruptedWrite.isEmpty())
            return tr("interrupted while writing %1, which the module may hold unverified; it was "
                      "last verified at %2")
                .arg(interruptedWrite, where);
        return tr("interrupted: the module was last verified at %1").arg(where);
    }
    }
    return failure;
}
