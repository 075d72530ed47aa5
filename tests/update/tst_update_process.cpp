// The self-update with real processes: a copy of the built agent in a temporary folder, the
// reference service as its own process, and the three runs of the hand-over happening by
// themselves. Every process the test causes is found by its executable's folder and killed.
#include "support/TestSupport.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <csignal>
#include <sys/types.h>

namespace {

constexpr char kDevice[] = "02:00:00:00:17:17";

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& bytes, const QDateTime& modified)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        return false;
    if (!file.setFileTime(modified, QFileDevice::FileModificationTime))
        return false;
    file.close();
    return QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                           QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                           QFile::ExeOther);
}

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

// The processes whose executable lies in the folder (also one deleted or replaced meanwhile).
QList<pid_t> processesIn(const QString& folder)
{
    QList<pid_t> pids;
    const QString prefix = QFileInfo(folder).canonicalFilePath() + QLatin1Char('/');
    const QStringList all = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& name : all) {
        bool isPid = false;
        const pid_t pid = pid_t(name.toLongLong(&isPid));
        if (!isPid)
            continue;
        const QString exe = QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(pid));
        if (exe.startsWith(prefix))
            pids << pid;
    }
    return pids;
}

void killProcessesIn(const QString& folder)
{
    for (const pid_t pid : processesIn(folder))
        ::kill(pid, SIGKILL);
}

} // namespace

class TestUpdateProcess : public QObject
{
    Q_OBJECT

private:
    QString m_agentBin;
    QString m_serverBin;
    QByteArray m_agentBytes;

    // One scene: the app folder, the service's data, a home with auto-start entries already
    // present (so no first-start window appears), the service process and the agents' log.
    struct Scene
    {
        QTemporaryDir root;
        QString appDir, dataDir, log;
        QProcess server;
        QString serviceUrl;
        QProcess agent;

        ~Scene()
        {
            killProcessesIn(appDir);
            if (agent.state() != QProcess::NotRunning) {
                agent.kill();
                agent.waitForFinished(5000);
            }
            if (server.state() != QProcess::NotRunning) {
                server.kill();
                server.waitForFinished(5000);
            }
        }
        QString logText() const { return QString::fromUtf8(readFile(log)); }
    };

    void prepare(Scene& s, const QStringList& baseNames)
    {
        QVERIFY(s.root.isValid());
        s.appDir = s.root.filePath("F");
        s.dataDir = s.root.filePath("data");
        s.log = s.root.filePath("agents.log");
        QVERIFY(QDir().mkpath(s.appDir));
        // The agents report their folder as the system resolves it.
        s.appDir = QFileInfo(s.appDir).canonicalFilePath();
        QVERIFY(QDir().mkpath(s.dataDir + "/app"));
        QVERIFY(QDir().mkpath(s.root.filePath("config/autostart")));
        QVERIFY(QDir().mkpath(s.root.filePath("home")));
        for (const QString& base : baseNames) {
            QFile entry(s.root.filePath("config/autostart/" + base + ".desktop"));
            QVERIFY(entry.open(QIODevice::WriteOnly));
            entry.write("[Desktop Entry]\nType=Application\nName=Q17 Tallyframe\n");
        }

        const QString db = s.root.filePath("sales.db");
        createSqliteDatabase(db, {"CREATE TABLE sales (id INTEGER)"});
        QProcess add;
        add.start(m_serverBin, {"--data", s.dataDir, "add-company", "Toko Update", kDevice,
                                sqliteConnectionString(db)});
        QVERIFY(add.waitForFinished(20000));
        QVERIFY2(add.exitCode() == 0, add.readAllStandardError().constData());

        s.server.setProgram(m_serverBin);
        s.server.setArguments({"--data", s.dataDir, "--port", "0"});
        s.server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        s.server.start();
        QVERIFY(s.server.waitForStarted());
        static const QRegularExpression listening(
            QStringLiteral("Listening on (http://127\\.0\\.0\\.1:\\d+)"));
        QDeadlineTimer deadline(20000);
        QString out;
        while (!deadline.hasExpired() && !listening.match(out).hasMatch()) {
            s.server.waitForReadyRead(500);
            out += QString::fromUtf8(s.server.readAllStandardOutput());
        }
        const auto match = listening.match(out);
        QVERIFY2(match.hasMatch(), qPrintable(out));
        s.serviceUrl = match.captured(1);
    }

    void startAgent(Scene& s, const QString& baseName)
    {
        const QString exe = s.appDir + "/" + baseName;
        QVERIFY(writeFile(exe, m_agentBytes, QDateTime::currentDateTime().addDays(-1)));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("TALLYFRAME_SERVICE_URL", s.serviceUrl);
        env.insert("TALLYFRAME_DEVICE_NAME", kDevice);
        env.insert("HOME", s.root.filePath("home"));
        env.insert("XDG_CONFIG_HOME", s.root.filePath("config"));
        s.agent.setProcessEnvironment(env);
        s.agent.setWorkingDirectory(s.appDir);
        // A file, not a pipe: the later runs inherit it and outlive the first.
        s.agent.setStandardOutputFile(s.log, QIODevice::Append);
        s.agent.setStandardErrorFile(s.log, QIODevice::Append);
        s.agent.start(exe, {});
        QVERIFY(s.agent.waitForStarted());
    }

    // Waits until the condition holds or the time is up; the condition is checked once more.
    template <typename Fn> bool waitFor(Fn&& condition, int ms)
    {
        QDeadlineTimer deadline(ms);
        while (!condition() && !deadline.hasExpired())
            QTest::qWait(200);
        return condition();
    }

    void publish(Scene& s, const QByteArray& bytes)
    {
        // Newer than the running copy, older than any copy made during the test.
        QVERIFY(writeFile(s.dataDir + "/app/Q17-Tallyframe", bytes,
                          QDateTime::currentDateTime().addSecs(-3600)));
    }

private slots:
    void initTestCase()
    {
        m_agentBin = qEnvironmentVariable("TALLYFRAME_AGENT_BIN");
        m_serverBin = qEnvironmentVariable("TALLYFRAME_SERVER_BIN");
        if (!QFileInfo(m_agentBin).isExecutable() || !QFileInfo(m_serverBin).isExecutable())
            QSKIP("TALLYFRAME_AGENT_BIN and TALLYFRAME_SERVER_BIN must name the built programs");
        m_agentBytes = readFile(m_agentBin);
        QVERIFY(m_agentBytes.startsWith("\x7f"
                                        "ELF"));
    }

    void threeRunsReplaceTheBuild()
    {
        Scene s;
        prepare(s, {"Q17-Tallyframe", "Q17-Tallyframe-NEW"});
        // The newer build: the same program with something appended, so its bytes differ.
        const QByteArray newer = m_agentBytes + QByteArray(4096, '\0') + "build 2";
        publish(s, newer);
        startAgent(s, "Q17-Tallyframe");

        const QString usual = s.appDir + "/Q17-Tallyframe";
        const bool settled = waitFor(
            [&] {
                return entries(s.appDir) == QStringList{"Q17-Tallyframe"} &&
                       readFile(usual) == newer && s.logText().contains("update completed");
            },
            60000);
        const QString log = s.logText();
        QVERIFY2(settled, qPrintable(entries(s.appDir).join(", ") + "\n" + log));

        // The three runs in order: download and hand-over, swap, clean-up by the new build.
        const QStringList steps{
            "status: Checking Updates...",  "status: Downloading Update File",
            "status: Unduh update 100%",    "open: " + s.appDir + "/Q17-Tallyframe-NEW",
            "status: Sekarang:  | Baru: ",  "open: " + usual,
            "status: Versi sudah mutakhir", "update completed"};
        qsizetype at = 0;
        for (const QString& step : steps) {
            const qsizetype found = log.indexOf(step, at);
            QVERIFY2(found >= 0, qPrintable("missing after position " + QString::number(at) + ": " +
                                            step + "\n" + log));
            at = found + step.size();
        }
        QVERIFY(QFileInfo(usual).isExecutable());
        // The new build runs on under the usual name.
        QCOMPARE(processesIn(s.appDir).size(), 1);
        QVERIFY(
            waitFor([&] { return s.logText().contains("status: Terhubung database."); }, 20000));
    }

    void brokenDownloadsReplaceNothing_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("truncated build") << "truncated";
        QTest::newRow("foreign file") << "foreign";
    }
    void brokenDownloadsReplaceNothing()
    {
        QFETCH(QString, kind);
        Scene s;
        prepare(s, {"Q17-Tallyframe", "Q17-Tallyframe-NEW"});
        QByteArray published = m_agentBytes.left(m_agentBytes.size() / 2);
        if (kind == "foreign")
            published = "<html>" + QByteArray(m_agentBytes.size() + 4096, 'x');
        publish(s, published);
        startAgent(s, "Q17-Tallyframe");

        QVERIFY2(
            waitFor([&] { return s.logText().contains("status: Terhubung database."); }, 60000),
            qPrintable(s.logText()));
        const QString log = s.logText();
        QVERIFY2(log.contains("status: Gagal unduh update"), qPrintable(log));
        QVERIFY(!log.contains("open: "));
        QCOMPARE(entries(s.appDir), QStringList{"Q17-Tallyframe"});
        QCOMPARE(readFile(s.appDir + "/Q17-Tallyframe"), m_agentBytes);
        QCOMPARE(s.agent.state(), QProcess::Running);
    }

    void bundle1NeverChecks()
    {
        Scene s;
        prepare(s, {"Bundle1"});
        publish(s, m_agentBytes + "newer");
        QVERIFY(writeFile(s.dataDir + "/app/Bundle1", m_agentBytes + "newer",
                          QDateTime::currentDateTime().addSecs(-3600)));
        startAgent(s, "Bundle1");

        QVERIFY2(
            waitFor([&] { return s.logText().contains("status: Terhubung database."); }, 60000),
            qPrintable(s.logText()));
        const QString log = s.logText();
        QVERIFY2(!log.contains("Checking Update") && !log.contains("Sekarang:"), qPrintable(log));
        QCOMPARE(entries(s.appDir), QStringList{"Bundle1"});
        QCOMPARE(readFile(s.appDir + "/Bundle1"), m_agentBytes);
    }
};

QTEST_GUILESS_MAIN(TestUpdateProcess)
#include "tst_update_process.moc"
