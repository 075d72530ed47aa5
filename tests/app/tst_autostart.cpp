// The auto-start entry on XDG desktops: where it is written, the exact Exec line, and what the
// error number says when writing or removing fails.
#include "app/AppControl.h"
#include "app/AutoStart.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>

namespace {

QString readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

QStringList execLines(const QString& text)
{
    QStringList lines;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("Exec=")))
            lines << line;
    }
    return lines;
}

} // namespace

class TestAutoStart : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_home;
    QString config() const { return m_home.filePath("config"); }
    const ExeIdentity m_exe{"/opt/q17", "Q17-Tallyframe"};

private slots:
    void init()
    {
        qputenv("XDG_CONFIG_HOME", config().toUtf8());
        QDir(config()).removeRecursively();
    }

    void execLineQuotesTheExecutable_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("exec");
        QTest::newRow("plain") << "/opt/q17"
                               << "Q17-Tallyframe"
                               << "Exec=\"/opt/q17/Q17-Tallyframe\" --auto-start";
        QTest::newRow("blank") << "/home/ani budi/Agen"
                               << "Q17-Tallyframe"
                               << "Exec=\"/home/ani budi/Agen/Q17-Tallyframe\" --auto-start";
        // $ and ` are escaped for the Exec parser, and that backslash again for the string.
        QTest::newRow("dollar, backtick") << "/srv/x$y"
                                          << "Agen`1"
                                          << "Exec=\"/srv/x\\\\$y/Agen\\\\`1\" --auto-start";
        QTest::newRow("quote") << "/srv/say\"hi\""
                               << "Q17"
                               << "Exec=\"/srv/say\\\\\"hi\\\\\"/Q17\" --auto-start";
        QTest::newRow("backslash") << "/srv/a\\b"
                                   << "Q17"
                                   << "Exec=\"/srv/a\\\\\\\\b/Q17\" --auto-start";
        QTest::newRow("percent") << "/srv/50%off"
                                 << "Q17"
                                 << "Exec=\"/srv/50%%off/Q17\" --auto-start";
        QTest::newRow("line break") << "/srv/a\nExec=rm"
                                    << "Q17"
                                    << "Exec=\"/srv/a\\nExec=rm/Q17\" --auto-start";
    }
    void execLineQuotesTheExecutable()
    {
        QFETCH(QString, folder);
        QFETCH(QString, base);
        QFETCH(QString, exec);
        const ExeIdentity exe{folder, base};
        qint32 error = 4711;
        SetAutoStart(true, error, exe);
        QCOMPARE(error, 4711); // untouched on success

        const QString path = config() + "/autostart/" + base + ".desktop";
        QCOMPARE(AutoStartLocation(exe), path);
        const QString text = readFile(path);
        QVERIFY2(text.startsWith("[Desktop Entry]\n"), qPrintable(text));
        QVERIFY(text.contains("\nType=Application\n"));
        // Exactly one Exec line: nothing in the path can add a key of its own.
        QCOMPARE(execLines(text), QStringList{exec});
        QVERIFY(AutoStartEntryExists(exe));
    }

    // The update's hand-over runs the product under other names; its one entry stays the
    // product's and starts the product's file.
    void handOverFilesShareTheProductEntry_data()
    {
        QTest::addColumn<QString>("base");
        QTest::newRow("downloaded build") << "Q17-Tallyframe-NEW";
        QTest::newRow("marker") << "Q17-Tallyframe-TMP";
    }
    void handOverFilesShareTheProductEntry()
    {
        QFETCH(QString, base);
        const QString product = config() + "/autostart/Q17-Tallyframe.desktop";
        qint32 error = 0;
        SetAutoStart(true, error, m_exe);
        const ExeIdentity handOver{"/opt/q17", base};
        QVERIFY(AutoStartEntryExists(handOver));
        QCOMPARE(AutoStartLocation(handOver), product);

        QVERIFY(QFile::remove(product));
        QVERIFY(!AutoStartEntryExists(handOver));
        SetAutoStart(true, error, handOver);
        QCOMPARE(error, 0);
        QCOMPARE(QDir(config() + "/autostart").entryList(QDir::Files),
                 QStringList{"Q17-Tallyframe.desktop"});
        QCOMPARE(execLines(readFile(product)),
                 QStringList{"Exec=\"/opt/q17/Q17-Tallyframe\" --auto-start"});
        SetAutoStart(false, error, handOver);
        QCOMPARE(error, 0);
        QVERIFY(!QFile::exists(product));
    }

    void entryNamesTheRunningFile()
    {
        const QString running = QCoreApplication::applicationFilePath();
        if (running.contains(QRegularExpression("[\\s\"`$\\\\%]")))
            QSKIP("the test binary's path needs quoting; the table above covers that");
        qint32 error = 0;
        SetAutoStart(true, error);
        const QString path =
            config() + "/autostart/" + QFileInfo(running).completeBaseName() + ".desktop";
        QCOMPARE(execLines(readFile(path)), QStringList{"Exec=\"" + running + "\" --auto-start"});
    }

    void location_data()
    {
        QTest::addColumn<QByteArray>("xdgConfigHome"); // "-" for unset
        QTest::addColumn<QString>("expectedUnderHome");
        QTest::newRow("set") << QByteArray("SET") << "config/autostart/Q17-Tallyframe.desktop";
        QTest::newRow("unset") << QByteArray("-") << ".config/autostart/Q17-Tallyframe.desktop";
        QTest::newRow("empty") << QByteArray("") << ".config/autostart/Q17-Tallyframe.desktop";
        QTest::newRow("relative") << QByteArray("relative/dir")
                                  << ".config/autostart/Q17-Tallyframe.desktop";
    }
    void location()
    {
        QFETCH(QByteArray, xdgConfigHome);
        QFETCH(QString, expectedUnderHome);
        const QByteArray oldHome = qgetenv("HOME");
        qputenv("HOME", m_home.path().toUtf8());
        if (xdgConfigHome == "-")
            qunsetenv("XDG_CONFIG_HOME");
        else if (xdgConfigHome != "SET")
            qputenv("XDG_CONFIG_HOME", xdgConfigHome);
        const QString expected = m_home.filePath(expectedUnderHome);
        QFile::remove(expected);

        qint32 error = 0;
        SetAutoStart(true, error, m_exe);
        const bool written = QFile::exists(expected);
        const QString location = AutoStartLocation(m_exe);
        qputenv("HOME", oldHome);
        QVERIFY2(written, qPrintable(location));
        QCOMPARE(location, expected);
        QCOMPARE(error, 0);
    }

    void writingTwiceKeepsOneEntryAndRemovingDeletesIt()
    {
        qint32 error = 0;
        SetAutoStart(true, error, m_exe);
        SetAutoStart(true, error, m_exe);
        QCOMPARE(QDir(config() + "/autostart").entryList(QDir::Files),
                 QStringList{"Q17-Tallyframe.desktop"});
        SetAutoStart(false, error, m_exe);
        QCOMPARE(error, 0);
        QVERIFY(!AutoStartEntryExists(m_exe));
        QVERIFY(!QFile::exists(config() + "/autostart/Q17-Tallyframe.desktop"));
    }

    void removingAnEntryOfAnotherNameLeavesItAlone()
    {
        qint32 error = 0;
        SetAutoStart(true, error, {"/opt/q17", "Other-Agent"});
        SetAutoStart(false, error, m_exe);
        QCOMPARE(error, qint32(ENOENT)); // there was none of ours
        QVERIFY(QFile::exists(config() + "/autostart/Other-Agent.desktop"));
    }

    void failureGoesToTheErrorNumberOnly()
    {
        // A config "folder" that is a file: the autostart folder cannot be made.
        QFile blocker(config());
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        qint32 error = 0;
        SetAutoStart(true, error, m_exe);
        QVERIFY(error != 0);
        QVERIFY(!AutoStartEntryExists(m_exe));
        QFile::remove(config());
    }
};

QTEST_GUILESS_MAIN(TestAutoStart)
#include "tst_autostart.moc"
