// The tallyframe-server executable: admin commands for scripts, the listening line, a clean end
// on SIGTERM, and the refusal of fault mode away from loopback.
#include "HttpTestClient.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

class TestServerCli : public QObject
{
    Q_OBJECT

    QString m_bin;
    QTemporaryDir m_dir;

    QProcess* run(const QStringList& args)
    {
        auto* process = new QProcess(this);
        process->start(m_bin, QStringList{"--data", m_dir.path()} + args);
        return process;
    }

    // Exit code and stdout of a command that is expected to finish.
    std::pair<int, QByteArray> command(const QStringList& args)
    {
        QProcess* process = run(args);
        if (!process->waitForFinished(10000))
            return {-1, {}};
        const auto result = std::make_pair(process->exitCode(), process->readAllStandardOutput());
        process->deleteLater();
        return result;
    }

private slots:
    void initTestCase()
    {
        m_bin = qEnvironmentVariable("TALLYFRAME_SERVER_BIN");
        if (m_bin.isEmpty() || !QFile::exists(m_bin))
            QSKIP("TALLYFRAME_SERVER_BIN does not name the built server");
        QVERIFY(m_dir.isValid());
    }

    void adminCommands()
    {
        auto [status, out] = command({"add-company", "Toko", "AA:BB", "Driver=x", "0812"});
        QCOMPARE(status, 0);
        QVERIFY2(QRegularExpression("^[0-9a-f]{32}\n$").match(QString::fromLatin1(out)).hasMatch(),
                 out);
        const QString key = QString::fromLatin1(out).trimmed();

        QCOMPARE(command({"add-company", "toko", "CC:DD", "x"}).first, 1); // name taken
        QCOMPARE(command({"add-company", "Lain", "AA:BB", "x"}).first, 1); // device taken
        QCOMPARE(command({"queue", "wrong", "SELECT 1", "f", "t"}).first, 1);
        // An empty SQL or file name would have the agent ask its user on every poll.
        QCOMPARE(command({"queue", key, " ", "f", "t"}).first, 1);
        QCOMPARE(command({"queue", key, "SELECT 1", "", "t"}).first, 1);
        QCOMPARE(command({"queue", key, "SELECT 1", "f", "t"}),
                 std::make_pair(0, QByteArray("1\n")));
    }

    void servesAndEndsOnSigterm()
    {
        const QString key =
            QString::fromLatin1(command({"add-company", "Serve", "EE:FF", "x"}).second).trimmed();
        const QByteArray urut = command({"queue", key, "SELECT 1", "f", "t"}).second.trimmed();

        QProcess* server = run({"--port", "0"});
        QVERIFY(server->waitForReadyRead(10000));
        const QString line = QString::fromUtf8(server->readLine());
        const QRegularExpressionMatch match =
            QRegularExpression("^Listening on http://127\\.0\\.0\\.1:(\\d+)\n$").match(line);
        QVERIFY2(match.hasMatch(), qPrintable(line));

        HttpTestClient http("http://127.0.0.1:" + match.captured(1));
        QVERIFY(http.get("/api/get_rs_req.php?companyName=Serve").body.startsWith("Urut:" + urut));

        server->terminate(); // SIGTERM
        QVERIFY(server->waitForFinished(10000));
        QCOMPARE(server->exitStatus(), QProcess::NormalExit);
        QCOMPARE(server->exitCode(), 0);
        QVERIFY(server->readAllStandardOutput().isEmpty()); // the listening line stays the only one
        QVERIFY(server->readAllStandardError().contains("handed_out=1"));
    }

    void faultModeOnlyOnLoopback()
    {
        QProcess* server = run({"--listen", "0.0.0.0", "--fault-rate", "0.1"});
        QVERIFY(server->waitForFinished(10000));
        QCOMPARE(server->exitCode(), 1);
        QVERIFY(server->readAllStandardOutput().isEmpty());
        QVERIFY(server->readAllStandardError().contains("loopback"));
    }
};

QTEST_GUILESS_MAIN(TestServerCli)
#include "tst_server_cli.moc"
