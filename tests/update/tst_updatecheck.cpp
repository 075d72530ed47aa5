// The self-update's decisions: when the published build counts as newer, which files the
// hand-over works on, what each state of those files calls for, and the timer's rhythm.
#include "update/UpdateCheck.h"
#include "update/UpdateSignature.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestUpdateCheck : public QObject
{
    Q_OBJECT

private slots:
    void decision_data()
    {
        QTest::addColumn<QString>("local");
        QTest::addColumn<QString>("server");
        QTest::addColumn<int>("expected");
        const int failed = int(UpdateDecision::CheckFailed);
        const int download = int(UpdateDecision::Download);
        const int upToDate = int(UpdateDecision::UpToDate);
        QTest::newRow("equal") << "2024-03-05 14:07:09"
                               << "2024-03-05 14:07:09" << upToDate;
        QTest::newRow("server older") << "2024-03-05 14:07:09"
                                      << "2024-03-05 14:07:08" << upToDate;
        QTest::newRow("server newer by a second") << "2024-03-05 14:07:09"
                                                  << "2024-03-05 14:07:10" << download;
        QTest::newRow("server newer by a year") << "2023-12-31 23:59:59"
                                                << "2024-01-01 00:00:00" << download;
        QTest::newRow("not a date") << "2024-03-05 14:07:09"
                                    << "<html>oops</html>" << failed;
        QTest::newRow("Error: 404") << "2024-03-05 14:07:09"
                                    << "Error: 404" << failed;
        QTest::newRow("empty answer") << "2024-03-05 14:07:09"
                                      << "" << failed;
        QTest::newRow("impossible date") << "2024-03-05 14:07:09"
                                         << "2024-02-30 10:00:00" << failed;
        // Compared as text: "3" sorts after "1", so this older date still downloads.
        QTest::newRow("other layout sorts as text") << "2024-12-01 10:00:00"
                                                    << "2024-3-05 10:00:00" << download;
        // A newer date behind a blank is a date, yet sorts first as text: no download.
        QTest::newRow("leading blank sorts first") << "2024-03-05 10:00:00"
                                                   << " 2024-12-01 10:00:00" << upToDate;
        QTest::newRow("date only is a date") << "2024-03-05 14:07:09"
                                             << "2024-03-06" << download;
        QTest::newRow("trailing line break still a date") << "2024-03-05 14:07:09"
                                                          << "2024-03-05 14:07:09\n"
                                                          << download;
    }
    void decision()
    {
        QFETCH(QString, local);
        QFETCH(QString, server);
        QFETCH(int, expected);
        QCOMPARE(int(DecideUpdate(local, server)), expected);
    }

    void timeTextLayout()
    {
        const QDateTime time(QDate(2024, 3, 5), QTime(4, 7, 9));
        QTemporaryDir dir;
        QFile file(dir.filePath("exe"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.setFileTime(time, QFileDevice::FileModificationTime));
        file.close();
        QCOMPARE(FileTimeText(file.fileName()), QStringLiteral("2024-03-05 04:07:09"));
        QVERIFY_THROWS_EXCEPTION(UpdateFileError, FileTimeText(dir.filePath("missing")));
    }

    void fileNames_data()
    {
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<bool>("downloadedBuild");
        QTest::addColumn<QStringList>("paths"); // running, downloaded, marker, usual, usual marker
        QTest::addColumn<QString>("timePath");
        QTest::addColumn<QString>("downloadPath");
        QTest::newRow("usual here")
            << "Q17-Tallyframe"
            << "" << false
            << QStringList{"F/Q17-Tallyframe", "F/Q17-Tallyframe-NEW", "F/Q17-Tallyframe-TMP",
                           "F/Q17-Tallyframe", "F/Q17-Tallyframe-TMP"}
            << "/api/app/get_file_time.php?file=Q17-Tallyframe"
            << "/api/app/Q17-Tallyframe";
        QTest::newRow("downloaded here")
            << "Q17-Tallyframe-NEW"
            << "" << true
            << QStringList{"F/Q17-Tallyframe-NEW", "F/Q17-Tallyframe-NEW-NEW",
                           "F/Q17-Tallyframe-NEW-TMP", "F/Q17-Tallyframe", "F/Q17-Tallyframe-TMP"}
            << "/api/app/get_file_time.php?file=Q17-Tallyframe"
            << "/api/app/Q17-Tallyframe-NEW";
        QTest::newRow("windows names")
            << "Q17-Tallyframe"
            << ".EXE" << false
            << QStringList{"F/Q17-Tallyframe.EXE", "F/Q17-Tallyframe-NEW.EXE",
                           "F/Q17-Tallyframe-TMP.EXE", "F/Q17-Tallyframe.EXE",
                           "F/Q17-Tallyframe-TMP.EXE"}
            << "/api/app/get_file_time.php?file=Q17-Tallyframe.exe"
            << "/api/app/Q17-Tallyframe.exe";
        // Another name still asks for the published build's time, but downloads its own name.
        QTest::newRow("renamed copy")
            << "Kasir"
            << "" << false
            << QStringList{"F/Kasir", "F/Kasir-NEW", "F/Kasir-TMP", "F/Kasir", "F/Kasir-TMP"}
            << "/api/app/get_file_time.php?file=Q17-Tallyframe"
            << "/api/app/Kasir";
        QTest::newRow("every -NEW goes") << "A-NEW-B-NEW"
                                         << "" << true
                                         << QStringList{"F/A-NEW-B-NEW", "F/A-NEW-B-NEW-NEW",
                                                        "F/A-NEW-B-NEW-TMP", "F/A-B", "F/A-B-TMP"}
                                         << "/api/app/get_file_time.php?file=Q17-Tallyframe"
                                         << "/api/app/A-NEW-B-NEW";
        QTest::newRow("lower-case -new is no mark")
            << "Q17-Tallyframe-new"
            << "" << false
            << QStringList{"F/Q17-Tallyframe-new", "F/Q17-Tallyframe-new-NEW",
                           "F/Q17-Tallyframe-new-TMP", "F/Q17-Tallyframe-new",
                           "F/Q17-Tallyframe-new-TMP"}
            << "/api/app/get_file_time.php?file=Q17-Tallyframe"
            << "/api/app/Q17-Tallyframe-new";
    }
    void fileNames()
    {
        QFETCH(QString, base);
        QFETCH(QString, suffix);
        QFETCH(bool, downloadedBuild);
        QFETCH(QStringList, paths);
        QFETCH(QString, timePath);
        QFETCH(QString, downloadPath);
        const UpdateFiles files(QStringLiteral("F"), base, suffix);
        QCOMPARE(files.isDownloadedBuild(), downloadedBuild);
        const auto native = [](const QString& p) { return QDir::toNativeSeparators(p); };
        QCOMPARE(files.running(), native(paths[0]));
        QCOMPARE(files.downloaded(), native(paths[1]));
        QCOMPARE(files.marker(), native(paths[2]));
        QCOMPARE(files.usualBuild(), native(paths[3]));
        QCOMPARE(files.usualMarker(), native(paths[4]));
        QCOMPARE(files.timeQueryPath(), timePath);
        QCOMPARE(files.downloadPath(), downloadPath);
        // The signature lies beside the build.
        QCOMPARE(files.signaturePath(), downloadPath + ".sig");
    }

    void productName_data()
    {
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("product");
        QTest::newRow("usual") << "Q17-Tallyframe"
                               << "Q17-Tallyframe";
        QTest::newRow("downloaded") << "Q17-Tallyframe-NEW"
                                    << "Q17-Tallyframe";
        QTest::newRow("marker") << "Q17-Tallyframe-TMP"
                                << "Q17-Tallyframe";
        QTest::newRow("lower case is no mark") << "Q17-Tallyframe-new"
                                               << "Q17-Tallyframe-new";
    }
    void productName()
    {
        QFETCH(QString, base);
        QFETCH(QString, product);
        QCOMPARE(ProductBaseName(base), product);
    }

    void versionOrder_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<int>("order");
        QTest::newRow("equal") << "1.0.49"
                               << "1.0.49" << 0;
        QTest::newRow("numbers, not text") << "1.10.0"
                                           << "1.9.9" << 1;
        QTest::newRow("revision") << "1.0.48"
                                  << "1.0.49" << -1;
        QTest::newRow("major first") << "2.0.0"
                                     << "1.99.99" << 1;
        QTest::newRow("not a version is lowest") << "1.0"
                                                 << "0.0.0" << -1;
        QTest::newRow("blank tail") << "1.0.0 "
                                    << "0.0.1" << -1;
    }
    void versionOrder()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(int, order);
        QCOMPARE(qBound(-1, CompareVersions(a, b), 1), order);
        QCOMPARE(qBound(-1, CompareVersions(b, a), 1), a == b ? 0 : -order);
    }

    void signatureFile_data()
    {
        const QByteArray sig = QByteArray(64, 's').toBase64();
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("readable");
        QTest::newRow("as written") << "version: 1.2.3\nsignature: " + sig + "\n" << true;
        QTest::newRow("crlf, other order") << "signature: " + sig + "\r\nversion: 1.2.3\r\n"
                                           << true;
        QTest::newRow("no version") << "signature: " + sig + "\n" << false;
        QTest::newRow("bad version") << "version: 1.2\nsignature: " + sig + "\n" << false;
        QTest::newRow("short signature")
            << "version: 1.2.3\nsignature: " + QByteArray(63, 's').toBase64() << false;
        QTest::newRow("extra line") << "version: 1.2.3\nsignature: " + sig + "\nkey: x\n" << false;
        QTest::newRow("html page") << QByteArray("<html>Error: 404</html>") << false;
    }
    void signatureFile()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, readable);
        BuildSignature read;
        QCOMPARE(ParseSignatureFile(text, &read), readable);
        if (readable) {
            QCOMPARE(read.version, QString("1.2.3"));
            QCOMPARE(read.signature, QByteArray(64, 's'));
            QCOMPARE(SignatureFileText(read),
                     "version: 1.2.3\nsignature: " + QByteArray(64, 's').toBase64() + "\n");
        }
    }

    // The signature covers the bytes and the version: neither can change under it.
    void signatureBindsBytesAndVersion()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath("build");
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(QByteArray(200000, 'b'));
        out.close();
        QByteArray pub, secret;
        QVERIFY(GenerateUpdateKeys(&pub, &secret));
        const BuildSignature good{"1.2.3", SignBuild(file, "1.2.3", secret)};
        QVERIFY(VerifyBuild(file, good, pub));
        QVERIFY(!VerifyBuild(file, {"1.2.4", good.signature}, pub));
        QVERIFY(!VerifyBuild(file, good, pub.left(31)));
        QVERIFY(SignBuild(file, "1.2", secret).isEmpty());
        QVERIFY(out.open(QIODevice::Append));
        out.write("x");
        out.close();
        QVERIFY(!VerifyBuild(file, good, pub));
    }

    void plausibility_data()
    {
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<qint64>("length");
        QTest::addColumn<bool>("expected");
#ifdef Q_OS_WIN
        const QByteArray exe("MZ\x90\0", 4);
        const QByteArray other("\x7f"
                               "ELF");
#else
        const QByteArray exe("\x7f"
                             "ELF");
        const QByteArray other("MZ\x90\0", 4);
#endif
        // The running build is 50000 bytes long in every row.
        QTest::newRow("same length") << exe << qint64(50000) << true;
        QTest::newRow("longer") << exe << qint64(80000) << true;
        QTest::newRow("999 shorter") << exe << qint64(49001) << true;
        QTest::newRow("1000 shorter") << exe << qint64(49000) << false;
        QTest::newRow("half") << exe << qint64(25000) << false;
        QTest::newRow("other platform's executable") << other << qint64(50000) << false;
        QTest::newRow("html page") << QByteArray("<htm") << qint64(50000) << false;
        QTest::newRow("empty") << QByteArray() << qint64(0) << false;
    }
    void plausibility()
    {
        QFETCH(QByteArray, header);
        QFETCH(qint64, length);
        QFETCH(bool, expected);
        QCOMPARE(IsPlausibleBuild(header, length, 50000), expected);
    }

    void plausibleFileMustBeExecutable()
    {
        QTemporaryDir dir;
        const QString running = QCoreApplication::applicationFilePath();
        // Windows knows an executable by its name.
#ifdef Q_OS_WIN
        const QString copy = dir.filePath("copy.EXE");
#else
        const QString copy = dir.filePath("copy");
#endif
        QVERIFY(QFile::copy(running, copy));
        QVERIFY(QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner));
#ifndef Q_OS_WIN
        QVERIFY(!IsPlausibleBuild(copy, running));
#endif
        QVERIFY(QFile::setPermissions(copy, QFile::permissions(running)));
        QVERIFY(IsPlausibleBuild(copy, running));
        QVERIFY(!IsPlausibleBuild(dir.filePath("missing"), running));
    }

    void everySixthTick()
    {
        UpdateTickCounter counter;
        QList<int> due;
        for (int tick = 1; tick <= 18; ++tick) {
            if (counter.tick())
                due << tick;
        }
        QCOMPARE(due, (QList<int>{6, 12, 18}));
        QCOMPARE(counter.value(), qint16(0));
    }
};

QTEST_GUILESS_MAIN(TestUpdateCheck)
#include "tst_updatecheck.moc"
