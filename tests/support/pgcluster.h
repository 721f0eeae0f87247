#ifndef PGCLUSTER_H
#define PGCLUSTER_H

// A PostgreSQL server of the test's own: Debian's postgresql binaries
// (initdb, pg_ctl) make a cluster in a temporary folder and start it on a
// Unix socket in that folder, with no TCP at all (listen_addresses ''). As
// root, the server runs as the user nobody (PostgreSQL refuses root), the
// folder made nobody's. Header-only.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace pgcluster
{

class Cluster
{
public:
    Cluster() = default;
    ~Cluster() { stop(); }
    Cluster(const Cluster &) = delete;
    Cluster &operator=(const Cluster &) = delete;

    // Makes the cluster and its database "register", and starts it. False
    // with problem(); missing() when the binaries are not installed (a test
    // then skips, saying so).
    bool start()
    {
        bin = findBin();
        if (bin.isEmpty()) {
            absent = true;
            why = QStringLiteral("PostgreSQL's initdb and pg_ctl are not installed "
                                 "(/usr/lib/postgresql/*/bin; Debian: the package postgresql)");
            return false;
        }
        if (!dir.isValid()) {
            why = QStringLiteral("no temporary folder");
            return false;
        }
#ifdef Q_OS_UNIX
        asNobody = ::geteuid() == 0;
#endif
        if (asNobody &&
            !run(QStringLiteral("chown"), {QStringLiteral("nobody:"), dir.path()}, false))
            return false;
        return run(bin + QStringLiteral("/initdb"),
                   {QStringLiteral("-D"), data(), QStringLiteral("-U"), QStringLiteral("ordan"),
                    QStringLiteral("-A"), QStringLiteral("trust"), QStringLiteral("-E"),
                    QStringLiteral("UTF8"), QStringLiteral("--locale=C"),
                    QStringLiteral("--no-sync")}) &&
               resume() &&
               run(bin + QStringLiteral("/createdb"),
                   {QStringLiteral("-h"), dir.path(), QStringLiteral("-U"), QStringLiteral("ordan"),
                    QStringLiteral("register")});
    }

    // Starts the server again after stop().
    bool resume()
    {
        running = run(bin + QStringLiteral("/pg_ctl"),
                      {QStringLiteral("-D"), data(), QStringLiteral("-l"),
                       dir.filePath(QStringLiteral("server.log")), QStringLiteral("-w"),
                       QStringLiteral("-t"), QStringLiteral("120"), QStringLiteral("-o"),
                       QStringLiteral("-c listen_addresses='' -c unix_socket_directories='%1' "
                                      "-c fsync=off")
                           .arg(dir.path()),
                       QStringLiteral("start")});
        return running;
    }

    // Stops the server at once (its clients lose their connections).
    void stop()
    {
        if (!running)
            return;
        running = false;
        run(bin + QStringLiteral("/pg_ctl"),
            {QStringLiteral("-D"), data(), QStringLiteral("-m"), QStringLiteral("immediate"),
             QStringLiteral("-w"), QStringLiteral("stop")});
    }

    // The register's address on this server.
    QString url() const
    {
        return QStringLiteral("postgresql://ordan@") +
               QString::fromUtf8(QUrl::toPercentEncoding(dir.path())) + QStringLiteral("/register");
    }
    QString problem() const
    {
        return why;
    }
    bool missing() const
    {
        return absent;
    }

private:
    static QString findBin()
    {
        const QDir versions(QStringLiteral("/usr/lib/postgresql"));
        QStringList found = versions.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        std::sort(found.begin(), found.end(),
                  [](const QString &a, const QString &b) { return a.toInt() > b.toInt(); });
        for (const QString &version : found) {
            QString bin = versions.filePath(version + QStringLiteral("/bin"));
            if (QFile::exists(bin + QStringLiteral("/initdb")) &&
                QFile::exists(bin + QStringLiteral("/pg_ctl")))
                return bin;
        }
        return QString();
    }

    QString data() const
    {
        return dir.filePath(QStringLiteral("data"));
    }

    // Runs a program (as nobody where the test is root), its failure kept.
    bool run(const QString &program, QStringList arguments, bool asServer = true)
    {
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        QString command = program;
        if (asServer && asNobody) {
            arguments.prepend(program);
            arguments =
                QStringList{QStringLiteral("-u"), QStringLiteral("nobody"), QStringLiteral("--")} +
                arguments;
            command = QStringLiteral("runuser");
        }
        // pg_ctl's server keeps stdout open; it logs to its file instead.
        process.setStandardInputFile(QProcess::nullDevice());
        process.start(command, arguments);
        if (!process.waitForFinished(180000) || process.exitStatus() != QProcess::NormalExit ||
            process.exitCode() != 0) {
            why = QStringLiteral("%1 failed: %2")
                      .arg(program, QString::fromLocal8Bit(process.readAll()));
            return false;
        }
        return true;
    }

    QTemporaryDir dir{QDir::tempPath() + QStringLiteral("/ordan-pg-XXXXXX")};
    QString bin;
    QString why;
    bool absent = false;
    bool asNobody = false;
    bool running = false;
};

} // namespace pgcluster

#endif // PGCLUSTER_H
