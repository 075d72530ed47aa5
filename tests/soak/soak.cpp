// tallyframe-soak: runs the real agent for a long stretch against the reference service in fault
// mode and a PostgreSQL database that is restarted under it, then counts what reached the
// service. Every request is queued with a known answer; the run passes only when each one's
// report arrived with exactly that content, the agent is still alive, its memory stayed within
// bounds and no sanitizer spoke. scripts/soak.sh builds everything and runs this.
#include "TallyStore.h"
#include "support/TestPostgres.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <optional>
#include <pwd.h>
#include <sys/types.h>
#include <unistd.h>

namespace {

void say(const QString& line)
{
    std::fprintf(stdout, "%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

void waitMs(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

volatile std::sig_atomic_t g_stopRequested = 0;
void onStopSignal(int)
{
    g_stopRequested = 1;
}

struct Options
{
    int requests = 100;
    int timeLimitS = 300;
    int restarts = 2;
    int rows = 3000;
    double faultRate = 0.10;
    QString faults = QStringLiteral("drop,delay,500,201,truncate,garbage,half");
    int faultDelayS = 5;
    int httpTimeoutMs = 3000;
    quint32 seed = 8;
    qint64 memoryBoundKb = 15 * 1024;
    QString agentBin, serverBin, pgBin, workDir;
    bool keep = false;
};

// ---- the database and its expected contents ---------------------------------------------------

struct SaleRow
{
    int id = 0;
    std::optional<QString> customer; // NULL now and then
    QString city;
    qint64 cents = 0;
    QDate soldOn;
    QDateTime notedAt;
};

const QStringList kColumns = {"id", "customer", "city", "amount", "sold_on", "noted_at"};

// Customer names as a shop's database holds them, with the characters that break naive code:
// quotes, backslashes, line breaks, tabs and text beyond Latin-1.
const QStringList kCustomers = {
    QStringLiteral("Toko \"Maju\" Jaya"),    QStringLiteral("CV Sumber Rejeki"),
    QStringLiteral("C:\\Data\\Pelanggan"),   QStringLiteral("Warung Bu Sri\nCabang 2"),
    QStringLiteral("Caf\u00e9 \u00dcmit"),   QStringLiteral("\u65e5\u672c\u5546\u4e8b"),
    QStringLiteral("PT Angin\tRibut"),       QStringLiteral("O'Brien & Sons"),
    QStringLiteral("\U0001F600 Emoji Mart"), QStringLiteral("UD Sinar 50% Off"),
};
const QStringList kCities = {"Jakarta", "Surabaya", "Bandung", "Medan", "Makassar", "Denpasar"};

QList<SaleRow> makeRows(int count, quint32 seed)
{
    QRandomGenerator random(seed);
    QList<SaleRow> rows;
    const QDateTime base(QDate(2025, 1, 1), QTime(8, 0, 0));
    for (int id = 1; id <= count; ++id) {
        SaleRow row;
        row.id = id;
        if (id % 17 != 0)
            row.customer =
                kCustomers[random.bounded(int(kCustomers.size()))] + QStringLiteral(" #%1").arg(id);
        row.city = kCities[random.bounded(int(kCities.size()))];
        row.cents = random.bounded(1, 50000000);
        row.notedAt = base.addSecs(qint64(id) * 3571 + random.bounded(3000));
        row.soldOn = row.notedAt.date();
        rows.append(row);
    }
    return rows;
}

QString sqlLiteral(const QString& text)
{
    return QLatin1Char('\'') + QString(text).replace(QLatin1Char('\''), QStringLiteral("''")) +
           QLatin1Char('\'');
}

QString amountText(qint64 cents)
{
    return QStringLiteral("%1.%2").arg(cents / 100).arg(cents % 100, 2, 10, QLatin1Char('0'));
}

QString loadScript(const QList<SaleRow>& rows)
{
    QString sql = QStringLiteral("CREATE TABLE sales (id integer PRIMARY KEY, customer text, "
                                 "city varchar(40) NOT NULL, amount numeric(12,2) NOT NULL, "
                                 "sold_on date NOT NULL, noted_at timestamp(0) NOT NULL);\n");
    for (qsizetype i = 0; i < rows.size(); i += 500) {
        sql += QStringLiteral("INSERT INTO sales VALUES\n");
        for (qsizetype j = i; j < std::min(rows.size(), i + 500); ++j) {
            const SaleRow& r = rows[j];
            sql += QStringLiteral("(%1, %2, %3, %4, '%5', '%6')%7\n")
                       .arg(r.id)
                       .arg(r.customer ? sqlLiteral(*r.customer) : QStringLiteral("NULL"),
                            sqlLiteral(r.city), amountText(r.cents), r.soldOn.toString(Qt::ISODate),
                            r.notedAt.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")))
                       .arg(j + 1 < std::min(rows.size(), i + 500) ? "," : ";");
        }
    }
    return sql;
}

// The row object the report must hold for a row: every value a string, NULL as "".
QJsonObject expectedObject(const SaleRow& r)
{
    return QJsonObject{
        {"id", QString::number(r.id)},
        {"customer", r.customer.value_or(QString())},
        {"city", r.city},
        {"amount", amountText(r.cents)},
        {"sold_on", r.soldOn.toString(Qt::ISODate)},
        {"noted_at", r.notedAt.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))},
    };
}

struct Planned
{
    qint64 urut = 0;
    QString sql, fileName, title;
    int firstId = 0, lastId = 0; // inclusive; an empty range when lastId < firstId
};

QList<Planned> planRequests(int count, int rows, quint32 seed)
{
    QRandomGenerator random(seed ^ 0x5eed);
    QList<Planned> plan;
    for (int i = 0; i < count; ++i) {
        Planned p;
        // Mostly small reports, now and then an empty one or a larger one.
        const int pick = random.bounded(20);
        const int length = pick == 0 ? 0 : pick == 1 ? 300 : 1 + random.bounded(40);
        p.firstId = 1 + random.bounded(rows);
        p.lastId = std::min(rows, p.firstId + length - 1);
        p.sql = QStringLiteral("SELECT id, customer, city, amount, sold_on, noted_at\n"
                               "FROM sales\nWHERE id BETWEEN %1 AND %2\nORDER BY id")
                    .arg(p.firstId)
                    .arg(p.lastId);
        p.fileName = QStringLiteral("soak_%1").arg(i + 1, 4, 10, QLatin1Char('0'));
        p.title = QStringLiteral("Penjualan \"harian\" %1 \u2013 cabang %2")
                      .arg(i + 1)
                      .arg(kCities[i % kCities.size()]);
        plan.append(p);
    }
    return plan;
}

// Why a stored document is not the report that was asked for; empty when it is.
QString contentProblem(const QByteArray& document, const Planned& p, const QList<SaleRow>& rows)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(document, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return QStringLiteral("not JSON: ") + error.errorString();
    const QJsonObject o = doc.object();
    if (o.value("title").toString() != p.title)
        return QStringLiteral("title ") + o.value("title").toString();
    if (o.value("fileName").toString() != p.fileName)
        return QStringLiteral("fileName ") + o.value("fileName").toString();
    if (!o.value("footer").toString().startsWith(QLatin1String("Query termutakhir pada: ")))
        return QStringLiteral("footer ") + o.value("footer").toString();
    QStringList header;
    for (const QJsonValue& v : o.value("header").toArray())
        header << v.toString();
    if (header != kColumns)
        return QStringLiteral("header ") + header.join(',');
    const QJsonArray data = o.value("data").toArray();
    const int expectedRows = std::max(0, p.lastId - p.firstId + 1);
    if (data.size() != expectedRows)
        return QStringLiteral("%1 rows instead of %2").arg(data.size()).arg(expectedRows);
    for (int i = 0; i < expectedRows; ++i) {
        const QJsonObject want = expectedObject(rows[p.firstId - 1 + i]);
        if (data[i].toObject() != want)
            return QStringLiteral("row %1: %2 instead of %3")
                .arg(p.firstId + i)
                .arg(QString::fromUtf8(
                         QJsonDocument(data[i].toObject()).toJson(QJsonDocument::Compact)),
                     QString::fromUtf8(QJsonDocument(want).toJson(QJsonDocument::Compact)));
    }
    return {};
}

// ---- processes
// -----------------------------------------------------------------------------------

qint64 rssKb(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

void stopChild(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

// Stops a child on the way out, whatever the way out is.
struct ChildGuard
{
    QProcess* process;
    ~ChildGuard() { stopChild(*process); }
};

QHash<QString, qint64> fetchStats(int port)
{
    QNetworkAccessManager network;
    QNetworkReply* reply = network.get(
        QNetworkRequest(QUrl(QStringLiteral("http://127.0.0.1:%1/api/_stats").arg(port))));
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    loop.exec();
    QHash<QString, qint64> stats;
    if (reply->isFinished() && reply->error() == QNetworkReply::NoError) {
        for (const QByteArray& line : reply->readAll().split('\n')) {
            const qsizetype eq = line.indexOf('=');
            if (eq > 0)
                stats.insert(QString::fromUtf8(line.left(eq)), line.mid(eq + 1).toLongLong());
        }
    }
    reply->deleteLater();
    return stats;
}

// The sanitizers' own words; any of them in a log fails the run.
QStringList sanitizerReports(const QString& logFile)
{
    QFile file(logFile);
    QStringList found;
    if (!file.open(QIODevice::ReadOnly))
        return found;
    static const QRegularExpression pattern(
        QStringLiteral("ERROR: (Address|Leak|Thread|Memory)Sanitizer|runtime error:"));
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (pattern.match(QString::fromUtf8(line)).hasMatch())
            found << QString::fromUtf8(line);
    }
    return found;
}

// The largest value a "loop monitor: ... <what> N ms" line of the agent's log reports.
qint64 monitorFigure(const QString& logFile, const QString& what)
{
    QFile file(logFile);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QRegularExpression pattern(QStringLiteral("loop monitor: .*") + what +
                                     QStringLiteral(" (\\d+) ms"));
    qint64 best = -1;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const auto match = pattern.match(QString::fromUtf8(line));
        if (match.hasMatch())
            best = std::max(best, match.captured(1).toLongLong());
    }
    return best;
}

// ---- the run
// ---------------------------------------------------------------------------------------

int runSoak(const Options& o)
{
    QElapsedTimer wall;
    wall.start();
    // A work folder given by the caller is the caller's to remove.
    std::optional<QTemporaryDir> temp;
    if (o.workDir.isEmpty())
        temp.emplace(QDir::tempPath() + QStringLiteral("/tallyframe-soak-XXXXXX"));
    const QString root = temp ? temp->path() : o.workDir;
    if (temp)
        temp->setAutoRemove(!o.keep);
    QDir().mkpath(root);
    // The postgres account has to reach its folders inside.
    QFile::setPermissions(root, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                    QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                    QFile::ExeOther);
    say("work folder: " + root);

    QString error;
    Postgres postgres(o.pgBin, root + "/pg");
    struct PgGuard
    {
        Postgres& pg;
        ~PgGuard() { pg.stop(); }
    } pgGuard{postgres};
    if (!postgres.prepare(&error)) {
        say("PostgreSQL could not be started: " + error);
        return 2;
    }
    const QList<SaleRow> rows = makeRows(o.rows, o.seed);
    if (!postgres.psql("postgres", QStringLiteral("CREATE DATABASE toko;"), &error) ||
        !postgres.psql("toko", loadScript(rows), &error)) {
        say("the sales table could not be loaded: " + error);
        return 2;
    }
    say(QStringLiteral("PostgreSQL on 127.0.0.1:%1 with %2 rows").arg(postgres.port()).arg(o.rows));

    // The service's data: one company whose connection string opens that database, and the
    // queued requests, written before the service starts.
    const QString serviceDir = root + "/service";
    const QString company = QStringLiteral("Toko Soak Maju");
    const QString device = QStringLiteral("SO:AK:%1").arg(o.seed, 4, 16, QLatin1Char('0'));
    QList<Planned> plan = planRequests(o.requests, o.rows, o.seed);
    qint64 companyId = 0;
    {
        TallyStore store(serviceDir);
        if (!store.open(&error)) {
            say("the service store could not be opened: " + error);
            return 2;
        }
        companyId = store
                        .createCompany(company, device, "081234567890",
                                       postgres.connectionString("toko"), 0)
                        .id;
        for (Planned& p : plan)
            p.urut = store.queueRequest(companyId, p.sql, p.fileName, p.title);
        if (companyId == 0 ||
            std::any_of(plan.cbegin(), plan.cend(), [](const Planned& p) { return p.urut == 0; })) {
            say("the company or the requests could not be stored");
            return 2;
        }
    }

    QProcess server;
    ChildGuard serverGuard{&server};
    server.setStandardErrorFile(root + "/server.log");
    server.start(o.serverBin, {"--data", serviceDir, "--port", "0", "--fault-rate",
                               QString::number(o.faultRate), "--faults", o.faults, "--fault-delay",
                               QString::number(o.faultDelayS), "--seed", QString::number(o.seed)});
    int servicePort = 0;
    QElapsedTimer waited;
    waited.start();
    while (servicePort == 0 && waited.elapsed() < 20000 && server.waitForReadyRead(1000)) {
        static const QRegularExpression listening(
            QStringLiteral("Listening on http://[^:]+:(\\d+)"));
        const auto match = listening.match(QString::fromUtf8(server.readAll()));
        if (match.hasMatch())
            servicePort = match.captured(1).toInt();
    }
    if (servicePort == 0) {
        say("the service did not start; see " + root + "/server.log");
        return 2;
    }
    say(QStringLiteral("service on 127.0.0.1:%1, fault rate %2 (%3), seed %4")
            .arg(servicePort)
            .arg(o.faultRate)
            .arg(o.faults)
            .arg(o.seed));

    // The agent, with a home of its own: an auto-start entry already there keeps the consent
    // window from opening, as on a machine where the agent has run before.
    const QString home = root + "/home";
    QDir().mkpath(home + "/.config/autostart");
    {
        QFile entry(home + "/.config/autostart/" + QFileInfo(o.agentBin).completeBaseName() +
                    ".desktop");
        entry.open(QIODevice::WriteOnly);
        entry.write("[Desktop Entry]\nType=Application\nName=Q17 Tallyframe\nExec=\"" +
                    o.agentBin.toUtf8() + "\" --auto-start\n");
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home);
    env.insert("XDG_CONFIG_HOME", home + "/.config");
    env.insert("XDG_DATA_HOME", home + "/.local/share");
    env.insert("XDG_CACHE_HOME", home + "/.cache");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("TALLYFRAME_SERVICE_URL", QStringLiteral("http://127.0.0.1:%1").arg(servicePort));
    env.insert("TALLYFRAME_WEB_URL", QStringLiteral("http://127.0.0.1:%1").arg(servicePort));
    env.insert("TALLYFRAME_DEVICE_NAME", device);
    env.insert("TALLYFRAME_HTTP_TIMEOUT_MS", QString::number(o.httpTimeoutMs));
    env.insert("TALLYFRAME_LOOP_MONITOR", "1");
    const QString agentLog = root + "/agent.log";
    QProcess agent;
    ChildGuard agentGuard{&agent};
    agent.setProcessEnvironment(env);
    agent.setWorkingDirectory(home);
    agent.setProcessChannelMode(QProcess::MergedChannels);
    agent.setStandardOutputFile(agentLog);
    agent.start(o.agentBin, {});
    if (!agent.waitForStarted(10000)) {
        say("the agent did not start: " + agent.errorString());
        return 2;
    }
    const qint64 agentPid = agent.processId();
    // For scripts/soak.sh: what to stop should this program itself be killed.
    {
        QFile pids(root + "/pids");
        if (pids.open(QIODevice::WriteOnly))
            pids.write(QByteArray::number(agentPid) + ' ' + QByteArray::number(server.processId()) +
                       '\n');
    }
    say(QStringLiteral("agent pid %1, %2 requests queued, time limit %3 s")
            .arg(agentPid)
            .arg(o.requests)
            .arg(o.timeLimitS));

    // Watch until every request is flagged done, the agent dies or the time is up.
    TallyStore watch(serviceDir);
    watch.open(&error);
    QElapsedTimer clock;
    clock.start();
    qint64 rssAfterStart = -1, rssWarm = -1, rssPeak = 0, rssEnd = -1;
    int restartsDone = 0, done = 0, lastShown = -1;
    QStringList restartNotes;
    bool crashed = false;
    while (!g_stopRequested) {
        waitMs(1000);
        if (agent.state() != QProcess::Running) {
            crashed = true;
            break;
        }
        const qint64 rss = rssKb(agentPid);
        rssPeak = std::max(rssPeak, rss);
        if (rssAfterStart < 0 && clock.elapsed() >= 5000)
            rssAfterStart = rss;
        const QList<TallyStore::Request> requests = watch.requests(companyId);
        done = int(std::count_if(requests.cbegin(), requests.cend(),
                                 [](const TallyStore::Request& r) { return r.done; }));
        // Memory is compared from the moment the first reports have passed through every
        // layer (driver, network, document), so that what loads once is not taken for growth.
        if (rssWarm < 0 && done >= std::max(1, o.requests / 20))
            rssWarm = rss;
        if (restartsDone < o.restarts &&
            done >= (restartsDone + 1) * o.requests / (o.restarts + 1)) {
            QElapsedTimer took;
            took.start();
            const bool ok = postgres.restart(&error);
            restartNotes << QStringLiteral("restart %1 at %2 s after %3 done: %4 (%5 ms)")
                                .arg(restartsDone + 1)
                                .arg(clock.elapsed() / 1000)
                                .arg(done)
                                .arg(ok ? QStringLiteral("ok") : error)
                                .arg(took.elapsed());
            say(restartNotes.last());
            ++restartsDone;
        }
        if (done != lastShown && (done % 50 == 0 || done == o.requests)) {
            say(QStringLiteral("  %1 s: %2/%3 done, RSS %4 kB")
                    .arg(clock.elapsed() / 1000)
                    .arg(done)
                    .arg(o.requests)
                    .arg(rss));
            lastShown = done;
        }
        if (done >= o.requests || clock.elapsed() >= qint64(o.timeLimitS) * 1000)
            break;
    }
    const qint64 runMs = clock.elapsed();
    // A last look, after the agent has had a few idle polls to settle.
    if (!crashed && done >= o.requests)
        waitMs(3000);
    if (agent.state() != QProcess::Running)
        crashed = true;
    else
        rssEnd = rssKb(agentPid);
    const QHash<QString, qint64> stats = fetchStats(servicePort);

    // Stop the agent and the service before reading the results, so nothing changes under us.
    stopChild(agent);
    stopChild(server);

    // Count: every request's report must be there with the right content, at least once.
    QHash<qint64, int> reportsFor, goodReportsFor;
    QStringList wrong;
    for (const TallyStore::Report& info : watch.reports(companyId)) {
        ++reportsFor[info.urut];
        const auto planned = std::find_if(plan.cbegin(), plan.cend(),
                                          [&](const Planned& p) { return p.urut == info.urut; });
        const auto full = watch.report(info.id);
        const QString problem = planned == plan.cend() ? QStringLiteral("no such request")
                                : !full                ? QStringLiteral("document missing")
                                        : contentProblem(full->document, *planned, rows);
        if (problem.isEmpty())
            ++goodReportsFor[info.urut];
        else
            wrong << QStringLiteral("report %1 for Urut %2: %3")
                         .arg(info.id)
                         .arg(info.urut)
                         .arg(problem);
    }
    int delivered = 0, duplicates = 0, flaggedWithoutReport = 0, notFlagged = 0;
    QStringList lostList;
    const QList<TallyStore::Request> finalRequests = watch.requests(companyId);
    QHash<qint64, bool> doneFlag;
    for (const TallyStore::Request& r : finalRequests)
        doneFlag.insert(r.urut, r.done);
    for (const Planned& p : plan) {
        if (goodReportsFor.value(p.urut) > 0)
            ++delivered;
        else
            lostList << QString::number(p.urut);
        duplicates += std::max(0, reportsFor.value(p.urut) - 1);
        if (!doneFlag.value(p.urut))
            ++notFlagged;
        else if (goodReportsFor.value(p.urut) == 0)
            ++flaggedWithoutReport;
    }
    const int lost = o.requests - delivered;

    // Spool files of report runs must not pile up in the agent's data folder.
    int spoolLeft = 0;
    QDirIterator spool(home, {QStringLiteral("tallyframe-report-*")}, QDir::Files | QDir::Hidden,
                       QDirIterator::Subdirectories);
    while (spool.hasNext()) {
        spool.next();
        ++spoolLeft;
    }

    const QStringList sanitizer =
        sanitizerReports(agentLog) + sanitizerReports(root + "/server.log");
    const qint64 longestGap = monitorFigure(agentLog, QStringLiteral("longest gap"));
    const qint64 longestUnresponsive =
        monitorFigure(agentLog, QStringLiteral("longest unresponsive"));
    const qint64 growth = rssEnd >= 0 && rssWarm >= 0 ? rssEnd - rssWarm : -1;
    const bool memoryOk = growth >= 0 && growth <= o.memoryBoundKb;

    QStringList faultsByKind;
    for (const QString& kind : o.faults.split(','))
        faultsByKind << QStringLiteral("%1 %2").arg(kind).arg(stats.value("fault_" + kind));

    say("");
    say("== soak result");
    say(QStringLiteral("requests:            %1 (%2 rows in the table, %3 database restart(s))")
            .arg(o.requests)
            .arg(o.rows)
            .arg(restartsDone));
    for (const QString& note : restartNotes)
        say("  " + note);
    say(QStringLiteral("service calls:       %1, faults injected %2: %3")
            .arg(stats.value("api_requests"))
            .arg(stats.value("faults_total"))
            .arg(faultsByKind.join(", ")));
    say(QStringLiteral("delivered:           %1").arg(delivered));
    say(QStringLiteral(
            "lost:                %1%2 (flagged without a report: %3, still pending: %4)")
            .arg(lost)
            .arg(lostList.isEmpty() ? QString() : " [Urut " + lostList.mid(0, 20).join(' ') + "]")
            .arg(flaggedWithoutReport)
            .arg(notFlagged));
    say(QStringLiteral("duplicates:          %1 (reports stored again after a lost answer)")
            .arg(duplicates));
    say(QStringLiteral("wrong content:       %1").arg(wrong.size()));
    for (const QString& w : wrong.mid(0, 10))
        say("  " + w);
    say(QStringLiteral("agent crashes:       %1%2")
            .arg(crashed ? 1 : 0)
            .arg(crashed ? QStringLiteral(" (exit %1, see %2)").arg(agent.exitCode()).arg(agentLog)
                         : QString()));
    say(QStringLiteral("agent RSS:           %1 kB after start-up, %2 kB warm, %3 kB at the end, "
                       "peak %4 kB; growth %5 kB (bound %6 kB)")
            .arg(rssAfterStart)
            .arg(rssWarm)
            .arg(rssEnd)
            .arg(rssPeak)
            .arg(growth)
            .arg(o.memoryBoundKb));
    say(QStringLiteral("longest unresponsive: %1 ms (loop blocked or input held); longest timer "
                       "gap %2 ms")
            .arg(longestUnresponsive)
            .arg(longestGap));
    say(QStringLiteral("spool files left:    %1").arg(spoolLeft));
    say(QStringLiteral("sanitizer reports:   %1").arg(sanitizer.size()));
    for (const QString& s : sanitizer.mid(0, 10))
        say("  " + s);
    say(QStringLiteral("time:                %1 s until all done (or the limit), %2 s in all")
            .arg(runMs / 1000.0, 0, 'f', 1)
            .arg(wall.elapsed() / 1000.0, 0, 'f', 1));

    QStringList failures;
    if (lost > 0)
        failures << QStringLiteral("%1 lost").arg(lost);
    if (!wrong.isEmpty())
        failures << QStringLiteral("%1 with wrong content").arg(wrong.size());
    if (crashed)
        failures << QStringLiteral("the agent died");
    if (!memoryOk)
        failures << QStringLiteral("memory grew by %1 kB").arg(growth);
    if (!sanitizer.isEmpty())
        failures << QStringLiteral("sanitizer reports");
    if (spoolLeft > 0)
        failures << QStringLiteral("%1 spool files left").arg(spoolLeft);
    if (g_stopRequested)
        failures << QStringLiteral("interrupted");
    say(failures.isEmpty() ? QStringLiteral("PASS") : "FAIL: " + failures.join(", "));
    if (!failures.isEmpty() || o.keep) {
        if (temp)
            temp->setAutoRemove(false);
        say("logs kept in " + root);
    }
    return failures.isEmpty() ? 0 : 1;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("tallyframe-soak");
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Soak run of the agent against the faulty reference service and a PostgreSQL database "
        "that is restarted during the run.");
    parser.addHelpOption();
    const QString binDir = QCoreApplication::applicationDirPath();
    const QCommandLineOption requests("requests", "Requests to queue.", "N", "100");
    const QCommandLineOption timeLimit("time-limit", "Seconds to wait for them at most.", "S",
                                       "300");
    const QCommandLineOption restarts("restarts", "Database restarts during the run.", "N", "2");
    const QCommandLineOption rows("rows", "Rows in the sales table.", "N", "3000");
    const QCommandLineOption rate("fault-rate", "Share of service calls with a fault.", "R", "0.1");
    const QCommandLineOption faults("faults", "Fault kinds.", "KINDS",
                                    "drop,delay,500,201,truncate,garbage,half");
    const QCommandLineOption delay("fault-delay", "Seconds the delay fault waits.", "S", "5");
    const QCommandLineOption timeout("http-timeout-ms", "The agent's HTTP time-out.", "MS", "3000");
    const QCommandLineOption seed("seed", "Seed of the faults and the data.", "N", "8");
    const QCommandLineOption memory("memory-bound-mb", "Allowed RSS growth.", "MB", "15");
    const QCommandLineOption agent("agent", "The agent executable.", "FILE",
                                   binDir + "/Q17-Tallyframe");
    const QCommandLineOption server("server", "The service executable.", "FILE",
                                    binDir + "/tallyframe-server");
    const QCommandLineOption pgBin("pg-bin", "PostgreSQL's program folder.", "DIR",
                                   "/usr/lib/postgresql/15/bin");
    const QCommandLineOption work("work", "Work folder (default: a temporary one).", "DIR");
    const QCommandLineOption keep("keep", "Keep the work folder and its logs.");
    parser.addOptions({requests, timeLimit, restarts, rows, rate, faults, delay, timeout, seed,
                       memory, agent, server, pgBin, work, keep});
    parser.process(app);

    Options o;
    o.requests = parser.value(requests).toInt();
    o.timeLimitS = parser.value(timeLimit).toInt();
    o.restarts = parser.value(restarts).toInt();
    o.rows = std::max(1, parser.value(rows).toInt());
    o.faultRate = parser.value(rate).toDouble();
    o.faults = parser.value(faults);
    o.faultDelayS = parser.value(delay).toInt();
    o.httpTimeoutMs = parser.value(timeout).toInt();
    o.seed = parser.value(seed).toUInt();
    o.memoryBoundKb = parser.value(memory).toLongLong() * 1024;
    o.agentBin = QFileInfo(parser.value(agent)).absoluteFilePath();
    o.serverBin = QFileInfo(parser.value(server)).absoluteFilePath();
    o.pgBin = parser.value(pgBin);
    o.workDir = parser.value(work);
    o.keep = parser.isSet(keep);
    if (o.requests <= 0 || o.timeLimitS <= 0)
        parser.showHelp(2);

    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    return runSoak(o);
}
