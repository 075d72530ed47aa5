// The agent's log file: which files a run leaves behind, and what reaches them.
#include "support/TestSupport.h"

#include "app/AgentLog.h"
#include "app/AppControl.h"
#include "pipeline/ReportService.h"
#include "ui/Form1.h"

#include <QTemporaryDir>
#include <QTest>
#include <QThread>

namespace {
QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : "-";
}
} // namespace

class TestAgentLog : public QObject
{
    Q_OBJECT

private slots:
    void rotation_data()
    {
        // The log file, .1, .2 and .3 ("-": none) before a start and after writing "1\n",
        // "2\n"... with a cap of 4 bytes.
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("before");
        QTest::addColumn<int>("lines");
        QTest::addColumn<QString>("after");
        QTest::newRow("cap reached") << "logs"
                                     << "-|-|-|-" << 3 << "3\n|1\n2\n|-|-";
        QTest::newRow("two older kept") << "logs"
                                        << "-|-|-|-" << 8 << "7\n8\n|5\n6\n|3\n4\n|-";
        QTest::newRow("start moves the last run aside") << "logs"
                                                        << "c|b|a|-" << 1 << "1\n|c|b|-";
        QTest::newRow("unwritable folder") << "file/logs"
                                           << "-|-|-|-" << 3 << "-|-|-|-";
    }
    void rotation()
    {
        QFETCH(QString, folder);
        QFETCH(QString, before);
        QFETCH(int, lines);
        QTemporaryDir dir;
        QDir(dir.path()).mkdir("logs");
        QFile(dir.filePath("file")).open(QIODevice::WriteOnly);
        const QString path = dir.filePath(folder + "/agent.log");
        const QStringList suffixes{"", ".1", ".2", ".3"};
        for (int i = 0; i < 4; ++i) {
            QFile file(path + suffixes[i]);
            if (before.split('|')[i] != "-")
                QVERIFY(file.open(QIODevice::WriteOnly) &&
                        file.write(before.split('|')[i].toUtf8()) > 0);
        }
        RotatingLog log(path, 4, 2);
        for (int line = 1; line <= lines; ++line)
            log.write(QByteArray::number(line) + '\n');
        QByteArrayList after;
        for (const QString& suffix : suffixes)
            after << contents(path + suffix);
        QTEST(QString(after.join('|')), "after");
    }

    void statusTextsAndWarningsReachTheFile()
    {
        static QStringList stderrGot;
        qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext&, const QString& text) { stderrGot << text; });
        QTemporaryDir dir;
        AgentLog::install(dir.path());
        QCOMPARE(AgentLog::filePath(), dir.filePath("Q17-Tallyframe.log"));
        ScriptedDialogs dialogs;
        ServiceClient client;
        Form1 form(client, dialogs);
        form.Prompting("Menghubungkan...");
        qCInfo(lcApp) << "EndApp";
        std::unique_ptr<QThread> worker(
            QThread::create([] { qCWarning(lcPipeline, "from the worker"); }));
        worker->start();
        QVERIFY(worker->wait(5000));
        // The status text and the warning, from either thread; stderr still gets everything.
        const QByteArray text = contents(AgentLog::filePath());
        QVERIFY2(text.endsWith(
                     "tallyframe.status: Menghubungkan...\ntallyframe.pipeline: from the worker\n"),
                 text);
        QCOMPARE(stderrGot.mid(stderrGot.size() - 3),
                 QStringList({"Menghubungkan...", "EndApp", "from the worker"}));
    }
};

QTEST_MAIN(TestAgentLog)
#include "tst_agent_log.moc"
