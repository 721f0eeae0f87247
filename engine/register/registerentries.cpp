#include "engine/register/registerentries.h"

#include "engine/platform/tracelog.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QSysInfo>

namespace siteregister
{

namespace
{

// The parameter of a record name; false for a name this program does not
// know.
bool fieldOf(const QString &key, ModuleField *field)
{
    for (const ModuleField f : allModuleFields) {
        if (parameters::fieldKey(f) == key) {
            *field = f;
            return true;
        }
    }
    return false;
}

QString pair(const QString &key, const QString &value)
{
    QString text = key + QLatin1Char('=');
    for (const QChar c : value) {
        if (c == QLatin1Char('\\') || c == QLatin1Char(';') || c == QLatin1Char('='))
            text += QLatin1Char('\\');
        text += c;
    }
    return text;
}

} // namespace

QString factsText(const Facts &facts)
{
    QStringList pairs;
    for (auto it = facts.cbegin(); it != facts.cend(); ++it)
        pairs << pair(it.key(), it.value());
    return pairs.join(QLatin1Char(';'));
}

Facts factsFrom(const QString &text)
{
    Facts facts;
    QString key;
    QString value;
    bool inValue = false;
    const auto take = [&] {
        if (inValue && !key.isEmpty())
            facts.insert(key, value);
        key.clear();
        value.clear();
        inValue = false;
    };
    for (int i = 0; i < text.size(); ++i) {
        QChar c = text.at(i);
        if (c == QLatin1Char('\\') && i + 1 < text.size()) {
            c = text.at(++i);
        } else if (c == QLatin1Char(';')) {
            take();
            continue;
        } else if (c == QLatin1Char('=') && !inValue) {
            inValue = true;
            continue;
        }
        (inValue ? value : key) += c;
    }
    take();
    return facts;
}

QString valuesText(const parameters::Values &values)
{
    QStringList pairs;
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        pairs << pair(parameters::fieldKey(it.key()), it.value());
    return pairs.join(QLatin1Char(';'));
}

parameters::Values valuesFrom(const QString &text)
{
    parameters::Values values;
    const Facts facts = factsFrom(text);
    for (auto it = facts.cbegin(); it != facts.cend(); ++it) {
        ModuleField field;
        if (fieldOf(it.key().trimmed(), &field))
            values.insert(field, it.value());
    }
    return values;
}

QString legacyPlanHash(const QByteArray &planBytes)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(planBytes, QCryptographicHash::Sha256).toHex());
}

bool isRowsIdentity(const QString &planKey)
{
    return planKey.startsWith(QLatin1String("rows:"));
}

QString timeText(qint64 msSinceEpoch)
{
    return TraceLog::timestamp(msSinceEpoch);
}

RunInfo RunInfo::here(const QString &tool, const QString &planPath, const QString &planIdentity,
                      const QString &record)
{
    RunInfo run;
    run.tool = tool;
    // ORDAN_STATION names a station where the host name does not (several
    // stations on one computer, a container's random name).
    run.station = qEnvironmentVariable("ORDAN_STATION");
    if (run.station.isEmpty())
        run.station = QSysInfo::machineHostName();
    for (const char *name : {"USER", "LOGNAME", "USERNAME"}) {
        run.user = qEnvironmentVariable(name);
        if (!run.user.isEmpty())
            break;
    }
    run.pid = QCoreApplication::applicationPid();
    run.planPath = planPath;
    run.planHash = planIdentity;
    run.record = record;
    return run;
}

QStringList ClaimRequest::keys() const
{
    QStringList keys;
    if (!replaces.isEmpty())
        keys << QStringLiteral("replaces:") + parameters::normalMac(replaces);
    // An address by its number: two spellings of one address are one key.
    const QString ip = planned.value(ModuleField::Ip);
    quint32 address = 0;
    if (parameters::parseIpv4(ip, &address))
        keys << QStringLiteral("ip:") + parameters::ipv4Text(address);
    else if (!ip.isEmpty())
        keys << QStringLiteral("ip:") + ip;
    return keys;
}

QString RowEntry::mac() const
{
    return parameters::normalMac(values.value(ModuleField::Mac));
}

} // namespace siteregister
