// The agent's log file: which files a run leaves behind, and what reaches them.
#include "support/TestSupport.h"

#include "app/AgentLog.h"
#include "app/AppControl.h"
#include "pipeline/ReportService.h"
#include "ui/Form1.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

namespace {

const QByteArray kNone = "<none>";
const QStringList kSuffixes = {"", ".1", ".2", ".3"};

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : kNone;
}

} // namespace

class TestAgentLog : public QObject
{
    Q_OBJECT

private slots:
    void rotation_data()
    {
        // The log file, .1, .2 and .3, before the start and after the lines "1\n", "2\n", ...
        QTest::addColumn<QByteArrayList>("earlier");
        QTest::addColumn<int>("cap");
        QTest::addColumn<int>("kept");
        QTest::addColumn<int>("lines");
        QTest::addColumn<QByteArrayList>("files");
        const QByteArrayList fresh{kNone, kNone, kNone, kNone};
        QTest::newRow("under the cap")
            << fresh << 100 << 2 << 3 << QByteArrayList{"1\n2\n3\n", kNone, kNone, kNone};
        QTest::newRow("cap reached")
            << fresh << 4 << 2 << 3 << QByteArrayList{"3\n", "1\n2\n", kNone, kNone};
        QTest::newRow("two older files kept")
            << fresh << 2 << 2 << 5 << QByteArrayList{"5\n", "4\n", "3\n", kNone};
        QTest::newRow("none kept")
            << fresh << 2 << 0 << 3 << QByteArrayList{"3\n", kNone, kNone, kNone};
        QTest::newRow("a line longer than the cap")
            << fresh << 1 << 2 << 2 << QByteArrayList{"2\n", "1\n", kNone, kNone};
        QTest::newRow("start moves the last run aside")
            << QByteArrayList{"c\n", "b\n", "a\n", kNone} << 100 << 2 << 1
            << QByteArrayList{"1\n", "c\n", "b\n", kNone};
        QTest::newRow("an empty file is no run")
            << QByteArrayList{"", "b\n", kNone, kNone} << 100 << 2 << 0
            << QByteArrayList{"", "b\n", kNone, kNone};
    }
    void rotation()
    {
        QFETCH(QByteArrayList, earlier);
        QFETCH(int, cap);
        QFETCH(int, kept);
        QFETCH(int, lines);
        QFETCH(QByteArrayList, files);
        QTemporaryDir dir;
        const QString path = dir.filePath("logs/agent.log");
        QDir().mkpath(dir.filePath("logs"));
        for (int i = 0; i < kSuffixes.size(); ++i) {
            QFile file(path + kSuffixes[i]);
            if (earlier[i] != kNone)
                QVERIFY(file.open(QIODevice::WriteOnly) && file.write(earlier[i]) >= 0);
        }
        RotatingLog log(path, cap, kept);
        for (int line = 1; line <= lines; ++line)
            log.write(QByteArray::number(line) + '\n');
        for (int i = 0; i < kSuffixes.size(); ++i)
            QCOMPARE(contents(path + kSuffixes[i]), files[i]);
    }

    void unwritableFolderCostsOnlyTheFile()
    {
        QTemporaryDir dir;
        QFile blocker(dir.filePath("blocker"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        RotatingLog log(dir.filePath("blocker/logs/agent.log"), 2, 2);
        for (int line = 0; line < 5; ++line)
            log.write("line\n");
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList{"blocker"});
    }

    void statusTextsAndWarningsReachTheFile()
    {
        static QStringList earlierHandler;
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& message) {
            earlierHandler << message;
        });
        QTemporaryDir dir;
        AgentLog::install(dir.path());
        QCOMPARE(AgentLog::filePath(), dir.filePath("Q17-Tallyframe.log"));
        Form1 form;
        form.Prompting("Menghubungkan...");
        qCWarning(lcApp) << "the running agent did not answer";
        qCInfo(lcApp) << "EndApp";
        std::unique_ptr<QThread> worker(
            QThread::create([] { qCWarning(lcPipeline) << "from the worker"; }));
        worker->start();
        QVERIFY(worker->wait(5000));

        const QByteArray text = contents(AgentLog::filePath());
        QVERIFY2(text.contains("tallyframe.status: Menghubungkan...\n"), text);
        QVERIFY2(text.contains("tallyframe.app: the running agent did not answer\n"), text);
        QVERIFY2(text.contains("tallyframe.pipeline: from the worker\n"), text);
        QVERIFY2(!text.contains("EndApp"), text);
        // stderr (the handler before) still hears everything.
        for (const char* message : {"Menghubungkan...", "EndApp", "from the worker"})
            QVERIFY2(earlierHandler.contains(message), message);
    }
};

QTEST_MAIN(TestAgentLog)
#include "tst_agent_log.moc"
