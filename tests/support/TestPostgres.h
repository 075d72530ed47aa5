// A private PostgreSQL cluster for tests and the soak run: initdb in a folder of its own,
// listening on loopback only, stopped by its owner. As root it runs as the postgres account.
#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTcpServer>

#ifndef Q_OS_WIN
#include <pwd.h>
#include <sys/types.h>
#include <unistd.h>
#endif

inline int freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// The newest installed PostgreSQL's programs, or the empty text. A Windows build cannot run
// them (under Wine they are the Linux ones).
inline QString postgresBinaries()
{
#ifdef Q_OS_WIN
    return {};
#endif
    const QStringList found = QDir(QStringLiteral("/usr/lib/postgresql"))
                                  .entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (auto it = found.crbegin(); it != found.crend(); ++it) {
        const QString bin = QStringLiteral("/usr/lib/postgresql/") + *it + QStringLiteral("/bin");
        if (QFile::exists(bin + QStringLiteral("/pg_ctl")))
            return bin;
    }
    return {};
}

class Postgres
{
public:
    // Everything of the cluster lives in `root`: data, socket, log and the password file.
    Postgres(QString bin, QString root) : m_bin(std::move(bin)), m_root(std::move(root))
    {
        QDir().mkpath(m_root);
    }

    // PostgreSQL refuses to run as root: as root the cluster belongs to the postgres account.
    bool prepare(QString* error)
    {
        m_port = freePort();
        if (!QDir().mkpath(m_root + "/sock"))
            return fail(error, "cannot create " + m_root + "/sock");
        QFile pw(m_root + QStringLiteral("/pgpass"));
        if (!pw.open(QIODevice::WriteOnly) || pw.write(kPassword) < 0)
            return fail(error, "cannot write the password file");
        pw.close();
#ifndef Q_OS_WIN
        if (::geteuid() == 0) {
            const passwd* account = ::getpwnam("postgres");
            if (!account)
                return fail(error, "running as root, but there is no postgres account");
            m_runAs = QStringLiteral("postgres");
            for (const QString& path : {m_root, m_root + "/sock", m_root + "/pgpass"}) {
                if (::chown(QFile::encodeName(path).constData(), account->pw_uid,
                            account->pw_gid) != 0)
                    return fail(error, "cannot hand " + path + " to postgres");
            }
        }
#endif
        if (!run({m_bin + "/initdb", "-D", m_root + "/data", "-U", kUser, "-E", "UTF8",
                  "--no-locale", "--auth=scram-sha-256", "--pwfile=" + m_root + "/pgpass"},
                 120, error))
            return false;
        return start(error);
    }

    bool start(QString* error)
    {
        return run({m_bin + "/pg_ctl", "-D", m_root + "/data", "-l", m_root + "/postgres.log", "-w",
                    "-t", "60", "-o",
                    QStringLiteral("-p %1 -c listen_addresses=127.0.0.1 -k %2")
                        .arg(m_port)
                        .arg(m_root + "/sock"),
                    "start"},
                   90, error);
    }
    bool restart(QString* error)
    {
        return run(
            {m_bin + "/pg_ctl", "-D", m_root + "/data", "-w", "-t", "60", "-m", "fast", "restart"},
            90, error);
    }
    void stop()
    {
        if (QFile::exists(m_root + "/data/postmaster.pid"))
            run({m_bin + "/pg_ctl", "-D", m_root + "/data", "-w", "-t", "30", "-m", "immediate",
                 "stop"},
                45, nullptr);
    }
    bool psql(const QString& database, const QString& script, QString* error)
    {
        const QString file = m_root + QStringLiteral("/script.sql");
        QFile out(file);
        if (!out.open(QIODevice::WriteOnly) || out.write(script.toUtf8()) < 0)
            return fail(error, "cannot write " + file);
        out.close();
        QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther |
                                        QFile::ReadGroup);
        return run({m_bin + "/psql", "-X", "-q", "-v", "ON_ERROR_STOP=1", "-h", "127.0.0.1", "-p",
                    QString::number(m_port), "-U", kUser, "-d", database, "-f", file},
                   300, error);
    }

    int port() const
    {
        return m_port;
    }
    QString connectionString(const QString& database) const
    {
        return QStringLiteral("DRIVER={PostgreSQL Unicode};Server=127.0.0.1;Port=%1;Database=%2;"
                              "Uid=%3;Pwd=%4;")
            .arg(m_port)
            .arg(database, QLatin1String(kUser), QLatin1String(kPassword));
    }

private:
    static constexpr char kUser[] = "tally_report";
    static constexpr char kPassword[] = "s0ak-Pa55";

    static bool fail(QString* error, const QString& message)
    {
        if (error)
            *error = message;
        return false;
    }

    bool run(QStringList command, int timeoutS, QString* error)
    {
        if (!m_runAs.isEmpty())
            command = QStringList{"runuser", "-u", m_runAs, "--"} + command;
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("PGPASSWORD", QLatin1String(kPassword));
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(m_root); // readable by the postgres account
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(command.takeFirst(), command);
        if (!process.waitForFinished(timeoutS * 1000)) {
            process.kill();
            process.waitForFinished(5000);
            return fail(error, "timed out: " + command.join(' '));
        }
        if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
            return fail(error,
                        command.join(' ') + ":\n" + QString::fromLocal8Bit(process.readAll()));
        return true;
    }

    QString m_bin, m_root, m_runAs;
    int m_port = 0;
};
