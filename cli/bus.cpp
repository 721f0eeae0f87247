// ordan-cli bus HOST:PORT: its arguments and what it prints. The scan, the
// settings search and the rule of their outcome are the engine's (BusScan,
// BusSettingsSearch, BusReport).
#include "cli/bus.h"

#include "cli/output.h"
#include "cli/run.h"
#include "engine/bus/busscan.h"
#include "engine/commission/busrecord.h"
#include "engine/commission/commissionrun.h"
#include "engine/commission/recordpath.h"
#include "engine/jobs/bussettingssearch.h"
#include "engine/jobs/rowoutcome.h"
#include "engine/link/hostport.h"
#include "engine/platform/interruptwatch.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonObject>

namespace
{

constexpr int mostRepeats = 10000;

struct BusOptions {
    BusScanSettings scan;
    bool find = false;
    QString console;
    int findTimeoutMs = 0;
    QString record;
};

bool parseOptions(Run &run, BusOptions *o, QString *problem)
{
    const QCommandLineParser &p = run.parser;
    HostPort target;
    if (!HostPort::parse(run.ports.first(), HostPort::Hosts::Ipv4Only, &target, problem))
        return false;
    o->scan.host = target.address;
    o->scan.port = target.port;
    for (const char *name : {"ids", "expect"}) {
        const QString key = QLatin1String(name);
        if (!p.isSet(key))
            continue;
        QList<int> *units = qstrcmp(name, "ids") == 0 ? &o->scan.ids : &o->scan.expected;
        QString why;
        if (!unitlist::parse(p.value(key), units, &why)) {
            *problem = QStringLiteral("--%1: %2").arg(key, why);
            return false;
        }
    }
    if (!intOption(run, "answer-timeout", 1, &o->scan.answerTimeoutMs, problem) ||
        !intOption(run, "repeat", 0, &o->scan.repeat, problem) ||
        !intOption(run, "min-quality", 0, &o->scan.minQualityPercent, problem))
        return false;
    if (o->scan.answerTimeoutMs > longestAnswerTimeoutMs || o->scan.repeat > mostRepeats ||
        o->scan.minQualityPercent > 100) {
        *problem = QStringLiteral("--answer-timeout is at most %1 ms, --repeat at most %2, "
                                  "--min-quality at most 100")
                       .arg(longestAnswerTimeoutMs)
                       .arg(mostRepeats);
        return false;
    }
    if (p.isSet(QStringLiteral("min-quality")) && o->scan.repeat == 0) {
        *problem = QStringLiteral("--min-quality goes with --repeat: the quality is measured over "
                                  "the repeats");
        return false;
    }
    if (p.isSet(QStringLiteral("line-speed"))) {
        bool ok = false;
        const int baud = p.value(QStringLiteral("line-speed")).toInt(&ok);
        if (!ok || baud < 300 || baud > 1000000) {
            *problem = QStringLiteral("--line-speed \"%1\": the bus's speed in baud, 300 to "
                                      "1000000")
                           .arg(p.value(QStringLiteral("line-speed")));
            return false;
        }
        o->scan.lineBaud = baud;
    }
    if (p.isSet(QStringLiteral("probe")) &&
        !BusProbe::parse(p.value(QStringLiteral("probe")), &o->scan.probe, problem))
        return false;
    const QString framing = p.value(QStringLiteral("framing"));
    if (p.isSet(QStringLiteral("framing")) && framing != QLatin1String("rtu") &&
        framing != QLatin1String("tcp")) {
        *problem = QStringLiteral("--framing \"%1\": rtu (a transparent module) or tcp (Modbus "
                                  "TCP)")
                       .arg(framing);
        return false;
    }
    o->scan.framing = framing == QLatin1String("tcp") ? BusFraming::Tcp : BusFraming::Rtu;
    o->scan.connectTimeoutMs = ReachCheck::defaultConnectTimeoutMs;
    if (!secondsOption(run, "connect-timeout", &o->scan.connectTimeoutMs, problem) ||
        !secondsOption(run, "find-timeout", &o->findTimeoutMs, problem))
        return false;
    o->find = p.isSet(QStringLiteral("find-settings"));
    o->console = p.value(QStringLiteral("console"));
    if (o->find && o->console.isEmpty()) {
        *problem = QStringLiteral("--find-settings writes through the module's console: give "
                                  "--console PORT");
        return false;
    }
    for (const char *name : {"console", "find-timeout"}) {
        if (!o->find && p.isSet(QLatin1String(name))) {
            *problem = QStringLiteral("--%1 goes with --find-settings").arg(QLatin1String(name));
            return false;
        }
    }
    o->record = p.value(QStringLiteral("record"));
    if (!o->record.isEmpty() && !recordpath::checkWritable(o->record, busrecord::kind(), problem)) {
        *problem = QStringLiteral("cannot append to the record %1: %2").arg(o->record, *problem);
        return false;
    }
    return true;
}

QString timeLeft(int ms)
{
    const int s = (ms + 999) / 1000;
    if (s < 60)
        return QStringLiteral("about %1 s left").arg(s);
    return QStringLiteral("about %1 min %2 s left").arg(s / 60).arg(s % 60);
}

// Progress on stderr: at most a line a second, and each device found.
void followScan(BusScan *scan)
{
    if (!cliout::progressWanted())
        return;
    auto shown = std::make_shared<QElapsedTimer>();
    QObject::connect(scan, &BusScan::progress, scan,
                     [shown](int done, int total, int unit, int msLeft) {
                         if (shown->isValid() && shown->elapsed() < 1000)
                             return;
                         shown->start();
                         cliout::progress(QStringLiteral("[%1/%2] unit %3, %4")
                                              .arg(done + 1)
                                              .arg(total)
                                              .arg(unit)
                                              .arg(timeLeft(msLeft)));
                     });
    QObject::connect(scan, &BusScan::unitFinished, scan, [scan](int unit) {
        const BusUnit *u = scan->report().unit(unit);
        if (u && u->isPresent())
            cliout::progress(QStringLiteral("unit %1: %2").arg(unit).arg(BusReport::describe(*u)));
    });
}

QJsonArray unitsJson(const QList<int> &units)
{
    QJsonArray array;
    for (const int unit : units)
        array.append(unit);
    return array;
}

QJsonObject reportJson(const BusReport &r, const BusScanSettings &s, int searched)
{
    QJsonArray units;
    for (const BusUnit &u : r.units) {
        if (!u.isPresent() && !r.expected.contains(u.unit) && u.crcErrors == 0 &&
            u.wrongReplies == 0 && r.strayByUnit.value(u.unit) == 0)
            continue;
        units.append(
            QJsonObject{{QStringLiteral("unit"), u.unit},
                        {QStringLiteral("result"), BusReport::stateWord(u.state)},
                        {QStringLiteral("ms"), u.ms >= 0 ? QJsonValue(u.ms) : QJsonValue()},
                        {QStringLiteral("exception"),
                         u.exceptionCode ? QJsonValue(u.exceptionCode) : QJsonValue()},
                        {QStringLiteral("expected"), r.expected.contains(u.unit)},
                        {QStringLiteral("crc_errors"), u.crcErrors},
                        {QStringLiteral("wrong_replies"), u.wrongReplies},
                        {QStringLiteral("late"), u.late},
                        {QStringLiteral("stray_frames"), r.strayByUnit.value(u.unit)}});
    }
    QJsonValue quality;
    if (r.hasQuality()) {
        const QList<int> times = r.replyTimes();
        const auto ms = [](int v) { return v >= 0 ? QJsonValue(v) : QJsonValue(); };
        quality = QJsonObject{{QStringLiteral("asked"), r.askedOfPresent()},
                              {QStringLiteral("good"), r.goodReplies()},
                              {QStringLiteral("crc_errors"), r.crcErrors()},
                              {QStringLiteral("no_reply"), r.noReplies()},
                              {QStringLiteral("wrong_replies"), r.wrongReplies()},
                              {QStringLiteral("late"), r.lateReplies()},
                              {QStringLiteral("percent"), r.qualityPercent()},
                              {QStringLiteral("min_ms"), ms(times.at(0))},
                              {QStringLiteral("median_ms"), ms(times.at(1))},
                              {QStringLiteral("max_ms"), ms(times.at(2))}};
    }
    return {{QStringLiteral("target"), r.target},
            {QStringLiteral("framing"),
             s.framing == BusFraming::Tcp ? QStringLiteral("tcp") : QStringLiteral("rtu")},
            {QStringLiteral("probe"), s.probe.text()},
            {QStringLiteral("answer_timeout_ms"), s.answerTimeoutMs},
            {QStringLiteral("searched"), searched},
            {QStringLiteral("asked"), r.units.size()},
            {QStringLiteral("reached"), r.reached},
            {QStringLiteral("answered"), unitsJson(r.answered())},
            {QStringLiteral("expected"), unitsJson(r.expected)},
            {QStringLiteral("missing"), unitsJson(r.missing())},
            {QStringLiteral("units"), units},
            {QStringLiteral("quality"), quality},
            {QStringLiteral("noise_bytes"), double(r.noiseBytes)},
            {QStringLiteral("frames_aside"), r.framesAside},
            {QStringLiteral("stray_frames"), r.framesAside},
            {QStringLiteral("wrong_replies"), r.wrongReplies()},
            {QStringLiteral("late"), r.lateReplies()},
            {QStringLiteral("failure"), r.failure().isEmpty() ? QJsonValue() : r.failure()},
            {QStringLiteral("result"), r.verdictWord()},
            {QStringLiteral("diagnosis"), r.diagnosis()}};
}

// The addresses with something to say, the rest counted, the quality, the
// notes and the diagnosis last.
QStringList reportLines(const BusReport &r, int searched)
{
    QList<QStringList> cells{{QStringLiteral("unit"), QStringLiteral("result")}};
    for (const BusUnit &u : r.units) {
        const bool expected = r.expected.contains(u.unit);
        if (u.isPresent() || expected || u.crcErrors > 0)
            cells << QStringList{QString::number(u.unit),
                                 BusReport::describe(u) + (expected && !u.isPresent()
                                                               ? QStringLiteral(" (expected)")
                                                               : QString())};
    }
    QStringList lines;
    if (cells.size() > 1)
        lines += cliout::table(cells, 0);
    const int others = r.units.size() - (cells.size() - 1);
    if (others > 0)
        lines << QStringLiteral("%1 %2%3: nothing")
                     .arg(others)
                     .arg(cells.size() > 1 ? QStringLiteral("other ") : QString())
                     .arg(others == 1 ? QStringLiteral("address") : QStringLiteral("addresses"));
    if (r.interrupted)
        lines << QStringLiteral("interrupted: %1 of %2 addresses asked")
                     .arg(r.units.size())
                     .arg(searched);
    if (r.hasQuality()) {
        const QList<int> t = r.replyTimes();
        lines << QStringLiteral(
                     "quality: %1 % of %2 requests (%3 good, %4 CRC errors, %5 no reply, %9 "
                     "wrong); %6/%7/%8 ms min/median/max")
                     .arg(r.qualityPercent(), 0, 'f', 1)
                     .arg(r.askedOfPresent())
                     .arg(r.goodReplies())
                     .arg(r.crcErrors())
                     .arg(r.noReplies())
                     .arg(t.at(0))
                     .arg(t.at(1))
                     .arg(t.at(2))
                     .arg(r.wrongReplies());
    }
    lines += r.notes();
    lines << r.diagnosis();
    return lines;
}

// Appends the outcome to --record; the exit code it leaves.
int keepRecord(const BusOptions &o, const BusReport &r, int searched, const busrecord::Row &row,
               int exitCode, QJsonObject *json)
{
    QString problem;
    if (o.record.isEmpty() || busrecord::append(o.record, r, searched, row, &problem))
        return exitCode;
    cliout::error(
        QString(),
        QStringLiteral("record %1: %2 (the record lacks this check)").arg(o.record, problem));
    json->insert(QStringLiteral("record_error"), problem);
    return exitCode == 0 ? int(JobResult::FileNotWritten) : exitCode;
}

int scanOnly(Run &run, const BusOptions &o)
{
    BusScan scan(o.scan);
    followScan(&scan);
    QEventLoop loop;
    QObject::connect(&scan, &BusScan::finished, &loop, &QEventLoop::quit);
    {
        InterruptWatch watch([&scan] { scan.stop(); });
        QMetaObject::invokeMethod(
            &scan, [&scan] { scan.start(); }, Qt::QueuedConnection);
        loop.exec();
    }
    const BusReport &r = scan.report();
    const int searched = scan.searched().size();
    QJsonObject json = reportJson(r, o.scan, searched);
    int exitCode = r.exitCode();
    if (!r.reached) {
        cliout::error(QString(), r.diagnosis());
    } else if (!run.json) {
        cliout::out(reportLines(r, searched));
    }
    if (!r.interrupted)
        exitCode = keepRecord(o, r, searched, {QString(), QString(), QString(), r.diagnosis()},
                              exitCode, &json);
    if (run.json)
        cliout::json(json);
    return exitCode;
}

QString tryLine(const BusSettingsSearch &search, int index)
{
    const BusSettingsSearch::Try &t = search.tries().at(index);
    const QString setting = BusSettingsSearch::text(t.setting, search.stopBits());
    if (!t.written)
        return QStringLiteral("%1, the module's own (%2): probed: %3")
            .arg(setting, cliout::seconds(t.ms), t.report.brief());
    if (!t.verified)
        return QStringLiteral("try %1, %2: write failed after %3: %4")
            .arg(index)
            .arg(setting, cliout::seconds(t.writeMs), t.writeError);
    return QStringLiteral("try %1, %2 (%3): written and verified, probed: %4")
        .arg(index)
        .arg(setting, cliout::seconds(t.ms), t.report.brief());
}

int findSettings(Run &run, const BusOptions &o)
{
    BusSettingsSearch::Settings settings;
    settings.consolePort = o.console;
    settings.job = run.settings;
    settings.scan = o.scan;
    settings.findTimeoutMs = o.findTimeoutMs;
    BusSettingsSearch search(settings);
    // Where the register will record the module's new settings as a
    // rewrite of the same module: search.setRewritten(...).
    search.setProgress([](const QString &port, int i, int n, const QString &what) {
        showProgress(false, port, i, n, what);
    });
    QObject::connect(&search, &BusSettingsSearch::tryStarted,
                     [](int index, const QString &setting, bool writing) {
                         cliout::progress(
                             writing ? QStringLiteral("try %1: writing %2").arg(index).arg(setting)
                                     : QStringLiteral("probing at %1").arg(setting));
                     });
    QObject::connect(&search, &BusSettingsSearch::tryFinished, [&search, &run](int index) {
        if (!run.json)
            cliout::out({tryLine(search, index)});
    });
    QObject::connect(&search, &BusSettingsSearch::restoringSettings, [](const QString &setting) {
        cliout::progress(QStringLiteral("writing back %1").arg(setting));
    });
    QEventLoop loop;
    QObject::connect(&search, &BusSettingsSearch::finished, &loop, &QEventLoop::quit);
    {
        InterruptWatch watch([&search] { search.interrupt(); });
        QMetaObject::invokeMethod(
            &search, [&search] { search.start(); }, Qt::QueuedConnection);
        loop.exec();
    }

    const BusSettingsSearch::Try *found = search.found();
    const BusReport last = search.tries().isEmpty() ? BusReport() : search.tries().last().report;
    const int searched = last.units.size();
    QJsonObject json = reportJson(last, o.scan, searched);
    QJsonArray tries;
    for (int i = 0; i < search.tries().size(); ++i) {
        const BusSettingsSearch::Try &t = search.tries().at(i);
        tries.append(QJsonObject{
            {QStringLiteral("settings"), BusSettingsSearch::text(t.setting, search.stopBits())},
            {QStringLiteral("written"), t.written},
            {QStringLiteral("verified"), t.verified},
            {QStringLiteral("ms"), t.ms},
            {QStringLiteral("write_ms"), t.writeMs},
            {QStringLiteral("probe_ms"), t.probeMs},
            {QStringLiteral("answered"), unitsJson(t.report.answered())},
            {QStringLiteral("result"),
             t.written && !t.verified ? t.writeError : t.report.brief()}});
    }
    const QString foundText =
        found ? BusSettingsSearch::text(found->setting, search.stopBits()) : QString();
    json.insert(QStringLiteral("search"),
                QJsonObject{{QStringLiteral("console"), o.console},
                            {QStringLiteral("mac"), search.mac()},
                            {QStringLiteral("old_settings"),
                             BusSettingsSearch::text(search.oldSetting(), search.stopBits())},
                            {QStringLiteral("tries"), tries},
                            {QStringLiteral("found"), found ? QJsonValue(foundText) : QJsonValue()},
                            {QStringLiteral("conclusion"), search.conclusion()}});
    const int exitCode = search.exitCode();
    const bool failed = search.outcome() != BusSettingsSearch::Outcome::Found &&
                        search.outcome() != BusSettingsSearch::Outcome::NotFound &&
                        search.outcome() != BusSettingsSearch::Outcome::TimeUp;
    if (failed)
        cliout::error(o.console, search.conclusion());
    if (!run.json) {
        QStringList lines;
        if (found)
            lines += reportLines(found->report, searched);
        if (!failed)
            lines << search.conclusion();
        cliout::out(lines);
    }
    int code = exitCode;
    if (search.outcome() != BusSettingsSearch::Outcome::Interrupted && !search.mac().isEmpty()) {
        const QString result =
            found ? search.conclusion() + QStringLiteral("; ") + found->report.diagnosis()
                  : search.conclusion();
        code = keepRecord(
            o, last, searched,
            {QString(), search.mac(),
             found ? foundText : BusSettingsSearch::text(search.oldSetting(), search.stopBits()),
             result},
            exitCode, &json);
    }
    if (run.json)
        cliout::json(json);
    return code;
}

} // namespace

int commandBus(Run &run)
{
    if (run.ports.size() != 1)
        return usage(QStringLiteral("bus needs exactly one HOST:PORT, the module's address and TCP "
                                    "port"));
    BusOptions o;
    QString problem;
    if (!parseOptions(run, &o, &problem))
        return usage(problem);
    return o.find ? findSettings(run, o) : scanOnly(run, o);
}

bool busOptions(Run &run, bool write, QString *problem)
{
    const QCommandLineParser &p = run.parser;
    run.settings.checkBus = p.isSet(QStringLiteral("bus"));
    if (p.isSet(QStringLiteral("bus-ids"))) {
        if (!run.settings.checkBus) {
            *problem = QStringLiteral("--bus-ids goes with --bus");
            return false;
        }
        QList<int> units;
        QString why;
        if (!unitlist::parse(p.value(QStringLiteral("bus-ids")), &units, &why)) {
            *problem = QStringLiteral("--bus-ids: ") + why;
            return false;
        }
    } else if (run.settings.checkBus && write) {
        *problem = QStringLiteral("write --bus asks the devices of --bus-ids LIST (as 1,2,5 or "
                                  "1-4): give them");
        return false;
    }
    return true;
}

QList<int> busIdsOption(const Run &run)
{
    QList<int> units;
    QString why;
    if (run.parser.isSet(QStringLiteral("bus-ids")))
        unitlist::parse(run.parser.value(QStringLiteral("bus-ids")), &units, &why);
    return units;
}

QJsonObject withBus(QJsonObject object, const RowOutcome &outcome)
{
    QJsonValue bus;
    if (outcome.result().busChecked) {
        const BusReport &r = outcome.result().bus;
        // The share of good replies among the requests to the devices
        // that answered (a wrong CRC is asked again); none when none did.
        bus = QJsonObject{{QStringLiteral("target"), r.target},
                          {QStringLiteral("expected"), unitsJson(outcome.result().busUnits)},
                          {QStringLiteral("answered"), unitsJson(r.answered())},
                          {QStringLiteral("missing"), unitsJson(r.missing())},
                          {QStringLiteral("quality"),
                           r.askedOfPresent() > 0 ? QJsonValue(r.qualityPercent()) : QJsonValue()},
                          {QStringLiteral("result"), r.verdictWord()},
                          {QStringLiteral("summary"), r.summary()}};
    }
    object.insert(QStringLiteral("bus"), bus);
    return object;
}

QJsonObject withBus(QJsonObject object, const CommissionRun &run)
{
    QJsonArray rows = object.value(QStringLiteral("rows")).toArray();
    for (int i = 0; i < rows.size() && i < run.rowCount(); ++i)
        rows[i] = withBus(rows.at(i).toObject(), run.outcome(i));
    object.insert(QStringLiteral("rows"), rows);
    return object;
}
