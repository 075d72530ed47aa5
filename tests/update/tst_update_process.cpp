// The self-update with real processes: a copy of the built agent in a temporary folder, the
// reference service as its own process, and the three runs of the hand-over happening by
// themselves. Every process the test causes is found by its executable's folder and killed.
#include "support/TestSupport.h"

#include "BuildInfo.h"

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
        QProcess second;      // a second start in the same session
        QByteArray publicKey; // handed to the agents, when set

        ~Scene()
        {
            killProcessesIn(appDir);
            for (QProcess* p : {&agent, &second}) {
                if (p->state() != QProcess::NotRunning) {
                    p->kill();
                    p->waitForFinished(5000);
                }
            }
            if (server.state() != QProcess::NotRunning) {
                server.kill();
                server.waitForFinished(5000);
            }
        }
        QString logText() const { return QString::fromUtf8(readFile(log)); }
    };

    // baseNames: the auto-start entries that exist before the first start.
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

    void startAgent(Scene& s, const QString& baseName, QProcess* process = nullptr)
    {
        const QString exe = s.appDir + "/" + baseName;
        if (!QFileInfo::exists(exe))
            QVERIFY(writeFile(exe, m_agentBytes, QDateTime::currentDateTime().addDays(-1)));
        if (!process)
            process = &s.agent;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (!s.publicKey.isEmpty())
            env.insert("TALLYFRAME_UPDATE_PUBLIC_KEY", QString::fromLatin1(s.publicKey));
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("TALLYFRAME_SERVICE_URL", s.serviceUrl);
        env.insert("TALLYFRAME_DEVICE_NAME", kDevice);
        env.insert("HOME", s.root.filePath("home"));
        env.insert("XDG_CONFIG_HOME", s.root.filePath("config"));
        process->setProcessEnvironment(env);
        process->setWorkingDirectory(s.appDir);
        // A file, not a pipe: the later runs inherit it and outlive the first.
        process->setStandardOutputFile(s.log, QIODevice::Append);
        process->setStandardErrorFile(s.log, QIODevice::Append);
        process->start(exe, {});
        QVERIFY(process->waitForStarted());
    }

    // Runs the service's command line on the scene's data; returns what it printed.
    QString serverCommand(Scene& s, const QStringList& args)
    {
        QProcess p;
        p.start(m_serverBin, QStringList{"--data", s.dataDir} + args);
        if (!p.waitForFinished(20000) || p.exitCode() != 0) {
            qWarning() << args << p.readAllStandardError();
            return {};
        }
        return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    }

    // A key of the test's own: nothing secret is kept anywhere else.
    QByteArray makeKey(Scene& s, const QString& name)
    {
        const QString dir = s.root.filePath(name);
        if (serverCommand(s, {"keygen", dir}).isEmpty())
            return {};
        // The secret is its owner's alone; a second keygen never replaces a key.
        if ((QFile::permissions(dir + "/update.key") & 0x0077) != 0 ||
            !serverCommand(s, {"keygen", dir}).isEmpty())
            return {};
        return readFile(dir + "/update.pub").trimmed();
    }

    QString agentsFiles(const Scene& s) const { return entries(s.appDir).join(", "); }

    // Waits until the condition holds or the time is up; the condition is checked once more.
    template <typename Fn> bool waitFor(Fn&& condition, int ms)
    {
        QDeadlineTimer deadline(ms);
        while (!condition() && !deadline.hasExpired())
            QTest::qWait(200);
        return condition();
    }

    void publish(Scene& s, const QByteArray& bytes, qint64 secondsFromNow = -3600)
    {
        // Newer than the running copy, older than any copy made during the test.
        QVERIFY(writeFile(s.dataDir + "/app/Q17-Tallyframe", bytes,
                          QDateTime::currentDateTime().addSecs(secondsFromNow)));
    }

    // Publishes through the service's command line, signed with the key in keyDir (none: "").
    void publishSigned(Scene& s, const QByteArray& bytes, const QString& keyDir,
                       const QString& version)
    {
        const QString source = s.root.filePath("build-to-publish");
        QVERIFY(writeFile(source, bytes, QDateTime::currentDateTime()));
        QStringList args{"publish", source, "Q17-Tallyframe"};
        if (!keyDir.isEmpty())
            args << "--key" << s.root.filePath(keyDir + "/update.key") << "--version" << version;
        QVERIFY(!serverCommand(s, args).isEmpty());
        QFile published(s.dataDir + "/app/Q17-Tallyframe");
        QVERIFY(published.open(QIODevice::ReadWrite));
        QVERIFY(published.setFileTime(QDateTime::currentDateTime().addSecs(-3600),
                                      QFileDevice::FileModificationTime));
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

    void threeRunsReplaceTheBuild_data()
    {
        QTest::addColumn<QString>("firstRun");    // which file the test starts
        QTest::addColumn<bool>("entry");          // whether the product's entry exists
        QTest::addColumn<qint64>("publishedAgo"); // seconds; negative: the service is ahead
        QTest::addColumn<bool>("signedBuild");
        // The entry is the product's alone: the hand-over's files never show the consent window.
        QTest::newRow("product's entry only") << "Q17-Tallyframe" << true << qint64(3600) << false;
        QTest::newRow("no entry, from the downloaded build")
            << "Q17-Tallyframe-NEW" << false << qint64(3600) << false;
        // The agent's clock five hours behind the service's: one update, not one every check.
        QTest::newRow("clock behind the service")
            << "Q17-Tallyframe" << true << qint64(-5 * 3600) << false;
        QTest::newRow("correctly signed") << "Q17-Tallyframe" << true << qint64(3600) << true;
    }
    void threeRunsReplaceTheBuild()
    {
        QFETCH(QString, firstRun);
        QFETCH(bool, entry);
        QFETCH(qint64, publishedAgo);
        QFETCH(bool, signedBuild);
        Scene s;
        prepare(s, entry ? QStringList{"Q17-Tallyframe"} : QStringList{});
        // The newer build: the same program with something appended, so its bytes differ.
        const QByteArray newer = m_agentBytes + QByteArray(4096, '\0') + "build 2";
        if (signedBuild) {
            s.publicKey = makeKey(s, "keys");
            QVERIFY(!s.publicKey.isEmpty());
            // A signature must name the version it vouches for.
            QVERIFY(serverCommand(s, {"publish", m_agentBin, "Q17-Tallyframe", "--key",
                                      s.root.filePath("keys/update.key")})
                        .isEmpty());
            publishSigned(s, newer, "keys", QStringLiteral(TALLYFRAME_VERSION));
        } else {
            publish(s, newer, -publishedAgo);
        }
        // What an update killed at the wrong moment leaves behind goes at the next start.
        for (const char* leftover : {"Q17-Tallyframe-NEW.a1B2c3.part", "Q17-Tallyframe.Zx9y8W"})
            QVERIFY(writeFile(s.appDir + "/" + leftover, "half", QDateTime::currentDateTime()));
        const QString usual = s.appDir + "/Q17-Tallyframe";
        if (firstRun != "Q17-Tallyframe") {
            // A download that is waiting: the usual build is the old one.
            QVERIFY(writeFile(usual, m_agentBytes, QDateTime::currentDateTime().addDays(-1)));
            QVERIFY(writeFile(s.appDir + "/" + firstRun, newer, QDateTime::currentDateTime()));
        }
        startAgent(s, firstRun);

        const bool settled = waitFor(
            [&] {
                return entries(s.appDir) == QStringList{"Q17-Tallyframe"} &&
                       readFile(usual) == newer && s.logText().contains("update completed");
            },
            60000);
        QVERIFY2(settled, qPrintable(agentsFiles(s) + "\n" + s.logText()));
        QVERIFY(
            waitFor([&] { return s.logText().contains("status: Terhubung database."); }, 20000));
        const QString log = s.logText();

        // The three runs in order: download and hand-over, swap, clean-up by the new build.
        QStringList steps{"status: Checking Updates...", "status: Downloading Update File",
                          "status: Unduh update 100%", "open: " + s.appDir + "/Q17-Tallyframe-NEW"};
        if (firstRun != "Q17-Tallyframe")
            steps.clear();
        steps << "status: Sekarang:  | Baru: "
              << "open: " + usual << "status: Versi sudah mutakhir"
              << "update completed";
        qsizetype at = 0;
        for (const QString& step : std::as_const(steps)) {
            const qsizetype found = log.indexOf(step, at);
            QVERIFY2(found >= 0, qPrintable("missing after position " + QString::number(at) + ": " +
                                            step + "\n" + log));
            at = found + step.size();
        }
        QCOMPARE(log.count("status: Downloading Update File"),
                 firstRun == "Q17-Tallyframe" ? 1 : 0);
        QVERIFY(QFileInfo(usual).isExecutable());
        // The new build runs on under the usual name, alone.
        QCOMPARE(processesIn(s.appDir).size(), 1);
        // No entry for a file of the hand-over; the product's entry is left as it was.
        QCOMPARE(QDir(s.root.filePath("config/autostart")).entryList(QDir::Files),
                 entry ? QStringList{"Q17-Tallyframe.desktop"} : QStringList{});
    }

    // A build that the agent with a key must not start: refused, the folder left as it was,
    // and the same published build not fetched again by a later run.
    void signedBuildsOnly_data()
    {
        QTest::addColumn<QString>("signing"); // the key directory, "" for none
        QTest::addColumn<QString>("version");
        QTest::newRow("unsigned") << ""
                                  << "";
        QTest::newRow("badly signed") << "other-keys" << TALLYFRAME_VERSION;
        QTest::newRow("older signed") << "keys"
                                      << "0.0.1";
    }
    void signedBuildsOnly()
    {
        QFETCH(QString, signing);
        QFETCH(QString, version);
        Scene s;
        prepare(s, {"Q17-Tallyframe"});
        s.publicKey = makeKey(s, "keys");
        QVERIFY(!makeKey(s, "other-keys").isEmpty());
        publishSigned(s, m_agentBytes + "build 2", signing, version);
        startAgent(s, "Q17-Tallyframe");
        QVERIFY2(
            waitFor([&] { return s.logText().contains("status: Terhubung database."); }, 60000),
            qPrintable(s.logText()));
        QString log = s.logText();
        QVERIFY2(log.contains("status: Downloading Update File") &&
                     log.contains("status: Gagal unduh update") && !log.contains("open: "),
                 qPrintable(log));
        QCOMPARE(entries(s.appDir), QStringList{"Q17-Tallyframe"});
        QCOMPARE(readFile(s.appDir + "/Q17-Tallyframe"), m_agentBytes);

        // The next run meets the same published build and leaves it alone.
        s.agent.kill();
        QVERIFY(s.agent.waitForFinished(5000));
        const qsizetype before = log.size();
        startAgent(s, "Q17-Tallyframe");
        QVERIFY(
            waitFor([&] { return s.logText().mid(before).contains("status: Terhubung database."); },
                    60000));
        log = s.logText().mid(before);
        QVERIFY2(log.contains("status: Gagal unduh update") &&
                     !log.contains("status: Downloading Update File"),
                 qPrintable(log));
        QCOMPARE(entries(s.appDir), QStringList{"Q17-Tallyframe"});
    }

    // Two starts at once in one session: one agent polls, the other shows its window and ends.
    void secondStartShowsTheFirst()
    {
        Scene s;
        prepare(s, {"Q17-Tallyframe"});
        QVERIFY(
            writeFile(s.appDir + "/Q17-Tallyframe", m_agentBytes, QDateTime::currentDateTime()));
        startAgent(s, "Q17-Tallyframe");
        startAgent(s, "Q17-Tallyframe", &s.second);
        const auto ended = [&] {
            return int(s.agent.state() == QProcess::NotRunning) +
                   int(s.second.state() == QProcess::NotRunning);
        };
        QVERIFY2(waitFor([&] { return ended() == 1; }, 30000), qPrintable(s.logText()));
        QProcess& gone = s.agent.state() == QProcess::NotRunning ? s.agent : s.second;
        QCOMPARE(gone.exitStatus(), QProcess::NormalExit);
        QCOMPARE(gone.exitCode(), 0);
        QVERIFY2(
            waitFor([&] { return s.logText().contains("a second start asked for the window"); },
                    20000),
            qPrintable(s.logText()));
        QVERIFY(
            waitFor([&] { return s.logText().contains("status: Terhubung database."); }, 60000));
        QTest::qWait(1000);
        QCOMPARE(ended(), 1);
        QCOMPARE(s.logText().count("status: Terhubung database."), 1);
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
        prepare(s, {"Q17-Tallyframe"});
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
