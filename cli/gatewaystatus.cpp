// ordan-cli gateway status [NAME]: a running gateway's counters, asked on
// its control socket, and how they are printed.
#include "cli/gateway.h"

#include "cli/output.h"
#include "cli/run.h"
#include "engine/gateway/controlsocket.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

namespace
{

constexpr int notRunningExit = 3;
constexpr int askTimeoutMs = 5000;

QString number(const QJsonValue &value)
{
    return QString::number(value.toDouble(), 'g', 10);
}

// "1 request", "2 requests".
QString many(const QJsonValue &value, const char *word)
{
    const QString n = number(value);
    return n + QLatin1Char(' ') + QLatin1String(word) +
           (n == QLatin1String("1") ? QString() : QStringLiteral("s"));
}

QString milliseconds(const QJsonValue &value)
{
    return value.isNull() || value.isUndefined() ? QStringLiteral("-")
                                                 : number(value) + QStringLiteral(" ms");
}

QString latency(const QJsonObject &l)
{
    return QStringLiteral("p50 %1, p99 %2, max %3")
        .arg(milliseconds(l.value(QStringLiteral("p50"))),
             milliseconds(l.value(QStringLiteral("p99"))),
             milliseconds(l.value(QStringLiteral("max"))));
}

// {"2": 5, "11": 1} as "0x02 x5, 0x0B x1"; empty for none.
QString exceptions(const QJsonObject &byCode)
{
    QStringList parts;
    for (auto it = byCode.begin(); it != byCode.end(); ++it)
        parts << QStringLiteral("0x%1 x%2")
                     .arg(QString::number(it.key().toInt(), 16)
                              .rightJustified(2, QLatin1Char('0'))
                              .toUpper(),
                          number(it.value()));
    return parts.join(QStringLiteral(", "));
}

QString counts(const QJsonObject &o)
{
    QString text = many(o.value(QStringLiteral("requests")), "request") + QStringLiteral(", ") +
                   (o.value(QStringLiteral("replies")).toDouble() == 1
                        ? QStringLiteral("1 reply")
                        : number(o.value(QStringLiteral("replies"))) + QStringLiteral(" replies"));
    const QString devices = exceptions(o.value(QStringLiteral("exceptions")).toObject());
    if (!devices.isEmpty())
        text += QStringLiteral(", exceptions ") + devices;
    const QString own = exceptions(o.value(QStringLiteral("gateway_exceptions")).toObject());
    if (!own.isEmpty())
        text += QStringLiteral(", the gateway's own ") + own;
    return text;
}

QStringList statusLines(const QJsonObject &s)
{
    QStringList lines;
    const auto n = [&s](const char *key) { return number(s.value(QLatin1String(key))); };
    QStringList listening;
    const QJsonArray listeners = s.value(QStringLiteral("listening")).toArray();
    for (const QJsonValue &l : listeners)
        listening << l.toString();
    lines << QStringLiteral("gateway %1 (process %2): up %3 s, listening on %4%5")
                 .arg(s.value(QStringLiteral("name")).toString(), n("pid"), n("uptime_s"),
                      listening.join(QStringLiteral(", ")),
                      s.value(QStringLiteral("tls")).toBool() ? QStringLiteral(" (TLS)")
                                                              : QString());
    const QJsonArray clients = s.value(QStringLiteral("clients")).toArray();
    lines << QStringLiteral("clients: %1 connected; %2 taken, %3 over --max-clients, %4 not "
                            "allowed, %5 failed TLS, %6 dropped")
                 .arg(clients.size())
                 .arg(n("clients_accepted"), n("clients_refused"), n("clients_not_admitted"),
                      n("clients_tls_refused"), n("clients_dropped"));
    for (const QJsonValue &value : clients) {
        const QJsonObject c = value.toObject();
        QString who = QStringLiteral("  client %1 %2 on %3, %4")
                          .arg(number(c.value(QStringLiteral("id"))),
                               c.value(QStringLiteral("peer")).toString(),
                               c.value(QStringLiteral("listener")).toString(),
                               c.value(QStringLiteral("access")).toString());
        if (c.contains(QStringLiteral("certificate")))
            who += QStringLiteral(", certificate ") +
                   c.value(QStringLiteral("certificate")).toString();
        lines << who + QStringLiteral(", %1 s: %2; queue %3; latency %4")
                           .arg(number(c.value(QStringLiteral("connected_s"))), counts(c),
                                number(c.value(QStringLiteral("queue"))
                                           .toObject()
                                           .value(QStringLiteral("now"))),
                                latency(c.value(QStringLiteral("latency_ms")).toObject()));
    }
    lines << QStringLiteral("modules:");
    const QJsonArray modules = s.value(QStringLiteral("modules")).toArray();
    for (const QJsonValue &value : modules) {
        const QJsonObject m = value.toObject();
        const QJsonValue row = m.value(QStringLiteral("row"));
        const QString target = m.value(QStringLiteral("target")).toString();
        const QJsonObject queue = m.value(QStringLiteral("queue")).toObject();
        lines << QStringLiteral("  %1 %2, %3: %4; %5, %6 late, %7; queue %8 (at most %9); on "
                                "the bus %10")
                     .arg(row.isDouble() ? QStringLiteral("row %1 (%2)").arg(number(row), target)
                                         : target,
                          m.value(QStringLiteral("state")).toString(),
                          m.value(QStringLiteral("line")).toString(), counts(m),
                          many(m.value(QStringLiteral("timeouts")), "time-out"),
                          number(m.value(QStringLiteral("late"))),
                          many(m.value(QStringLiteral("crc_errors")), "CRC error"),
                          number(queue.value(QStringLiteral("now"))),
                          number(queue.value(QStringLiteral("high"))))
                     .arg(latency(m.value(QStringLiteral("latency_ms")).toObject()));
        const QJsonArray units = m.value(QStringLiteral("units")).toArray();
        for (const QJsonValue &unitValue : units) {
            const QJsonObject u = unitValue.toObject();
            lines << QStringLiteral("    unit %1 %2: %3, %4")
                         .arg(number(u.value(QStringLiteral("unit"))),
                              u.value(QStringLiteral("state")).toString(), counts(u),
                              many(u.value(QStringLiteral("timeouts")), "time-out"));
        }
    }
    return lines;
}

} // namespace

int commandGatewayStatus(Run &run)
{
    // Only --json (and the options of every command) go with it.
    for (const QString &option : run.parser.optionNames()) {
        if (option != QLatin1String("json") && option != QLatin1String("log") &&
            option != QLatin1String("reply-timeout") && option != QLatin1String("pace"))
            return usage(QStringLiteral("--%1 does not go with gateway status").arg(option));
    }
    if (run.ports.size() > 2)
        return usage(QStringLiteral("gateway status takes one NAME at most"));
    const QString name = run.ports.value(1);
    QString problem;
    if (!name.isEmpty() && !controlsocket::checkName(name, &problem))
        return usage(problem);
    QStringList lookedIn;
    const QStringList sockets = controlsocket::find(name, &lookedIn);
    if (sockets.isEmpty()) {
        cliout::error(QStringLiteral("gateway status"),
                      QStringLiteral("no gateway%1 runs here for this user (looked in %2)")
                          .arg(name.isEmpty() ? QString() : QStringLiteral(" named ") + name,
                               lookedIn.join(QStringLiteral(", "))));
        return notRunningExit;
    }
    if (sockets.size() > 1 && name.isEmpty()) {
        QStringList names;
        for (const QString &socket : sockets)
            names << controlsocket::nameOf(socket);
        return usage(QStringLiteral("%1 gateways run (%2): name one")
                         .arg(sockets.size())
                         .arg(names.join(QStringLiteral(", "))));
    }
    QByteArray answer;
    if (!controlsocket::ask(sockets.first(), "status", askTimeoutMs, &answer, &problem)) {
        cliout::error(QStringLiteral("gateway status"),
                      QStringLiteral("the gateway does not answer: ") + problem);
        return notRunningExit;
    }
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(answer, &error);
    if (!document.isObject() || document.object().contains(QStringLiteral("error"))) {
        cliout::error(QStringLiteral("gateway status"),
                      QStringLiteral("%1 answered no status: %2")
                          .arg(sockets.first(),
                               document.isObject()
                                   ? document.object().value(QStringLiteral("error")).toString()
                                   : error.errorString()));
        return notRunningExit;
    }
    if (run.json) {
        const QByteArray bytes = document.toJson(QJsonDocument::Compact) + '\n';
        fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
        (void)fflush(stdout);
    } else {
        cliout::out(statusLines(document.object()));
    }
    return 0;
}
