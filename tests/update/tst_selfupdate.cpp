// The update check and the hand-over in this process, against the reference service: what the
// status line says, what is downloaded, which build is started, and what is left on disk.
#include "support/CannedHttpServer.h"
#include "support/TestSupport.h"

#include "TallyStore.h"
#include "app/AppControl.h"
#include "app/OpenUrl.h"
#include "service/ServiceConfig.h"
#include "ui/Form1.h"
#include "update/SelfUpdate.h"
#include "update/UpdateCheck.h"
#include "update/UpdateDownload.h"
#include "update/UpdateSignature.h"

#include <QDir>
#include <QLabel>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

namespace {

// The platform's executables: their header, and on Windows the name's extension.
#ifdef Q_OS_WIN
const QByteArray kHeader("MZ");
const QString kExe = QStringLiteral(".EXE");
#else
const QByteArray kHeader("\x7f"
                         "ELF",
                         4);
const QString kExe;
#endif
// The name the service publishes the build under.
const QString kPublished = QStringLiteral("Q17-Tallyframe") + kExe.toLower();

QString native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

QString exe(const QString& base)
{
    return base + kExe;
}

// The files of the given base names, in the order entries() lists them.
QStringList exeFiles(const QStringList& bases)
{
    QStringList names;
    for (const QString& base : bases)
        names << exe(base);
    names.sort();
    return names;
}
constexpr qint64 kRunningSize = 20000;

// A file that passes for a build of this platform (or not), of the given length.
QByteArray buildBytes(qint64 size, const QByteArray& header = kHeader, char fill = 'b')
{
    QByteArray bytes = header + QByteArray(size - header.size(), fill);
    return bytes.left(size);
}

void writeFile(const QString& path, const QByteArray& bytes,
               const QDateTime& modified = QDateTime::currentDateTime())
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    QCOMPARE(file.write(bytes), bytes.size());
    QVERIFY(file.setFileTime(modified, QFileDevice::FileModificationTime));
    file.close();
    QVERIFY(QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner |
                                            QFile::ExeGroup | QFile::ExeOther));
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList entries(const QString& folder)
{
    QStringList names =
        QDir(folder).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
    names.sort();
    return names;
}

// Serves files the way other web servers do: in chunks without a length, or compressed when the
// client says it takes that.
class FileServer : public QObject
{
public:
    FileServer()
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection())
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { serve(socket); });
        });
    }
    QString baseUrl() const
    {
        return QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort());
    }

    QMap<QByteArray, QByteArray> files; // by path
    bool chunked = false;
    bool compressWhenAsked = false;
    QList<QByteArray> acceptEncodings; // what each request said it takes

private:
    void serve(QTcpSocket* socket)
    {
        m_head += socket->readAll();
        if (!m_head.contains("\r\n\r\n"))
            return;
        const QByteArray head = std::exchange(m_head, {});
        const QByteArray path = head.split(' ').value(1);
        for (const QByteArray& line : head.split('\n')) {
            if (line.toLower().startsWith("accept-encoding:"))
                acceptEncodings << line.mid(16).trimmed();
        }
        const bool deflate = compressWhenAsked && head.toLower().contains("accept-encoding:") &&
                             head.toLower().contains("deflate");
        if (!files.contains(path)) {
            socket->write("HTTP/1.1 404 Not Found\r\nContent-Length: 10\r\n\r\nError: 404");
            return;
        }
        QByteArray body = files.value(path);
        QByteArray headers = "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n";
        if (deflate) {
            body = qCompress(body).mid(4); // a zlib stream without Qt's length prefix
            headers += "Content-Encoding: deflate\r\n";
        }
        if (chunked) {
            QByteArray chunks;
            for (qsizetype at = 0; at < body.size(); at += 7000) {
                const QByteArray piece = body.mid(at, 7000);
                chunks += QByteArray::number(piece.size(), 16) + "\r\n" + piece + "\r\n";
            }
            body = chunks + "0\r\n\r\n";
            headers += "Transfer-Encoding: chunked\r\n";
        } else {
            headers += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
        }
        socket->write(headers + "\r\n" + body);
    }

    QTcpServer m_server;
    QByteArray m_head;
};

struct Recorder
{
    QStringList prompts;
    QMap<QString, QString> memory; // what the agent keeps between runs
    QStringList started;
    bool startSucceeds = true;
    int ended = 0;
    UpdateHooks hooks(int retryMs = 2000)
    {
        UpdateHooks h;
        h.prompt = [this](const QString& text) { prompts << text; };
        h.start = [this](const QString& path) {
            started << path;
            return startSucceeds;
        };
        h.end = [this] { ++ended; };
        h.fileRetryMs = retryMs;
        h.recall = [this](const QString& key) { return memory.value(key); };
        h.remember = [this](const QString& key, const QString& value) { memory[key] = value; };
        return h;
    }
};

// The check as the window runs it, with a client of the service the environment names now.
UpdateOutcome runCheck(const UpdateSite& site, const UpdateHooks& hooks)
{
    ServiceClient service;
    return RunUpdateCheck(service, site, hooks);
}

class ServiceUrlGuard
{
public:
    explicit ServiceUrlGuard(const QString& url) : m_previous(qgetenv("TALLYFRAME_SERVICE_URL"))
    {
        qputenv("TALLYFRAME_SERVICE_URL", url.toUtf8());
    }
    ~ServiceUrlGuard() { qputenv("TALLYFRAME_SERVICE_URL", m_previous); }

private:
    QByteArray m_previous;
};

} // namespace

class TestSelfUpdate : public QObject
{
    Q_OBJECT

private:
    const QDateTime m_localTime = QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9));

    // The layout the service uses for the published build.
    QString localText() const { return m_localTime.toString("yyyy-MM-dd HH:mm:ss"); }

    void publish(TestService& service, const QString& name, const QByteArray& bytes,
                 const QDateTime& modified)
    {
        QVERIFY(QDir().mkpath(service.store().appDir()));
        writeFile(QDir(service.store().appDir()).filePath(name), bytes, modified);
    }

private slots:
    void check_data()
    {
        QTest::addColumn<QString>("published");  // what lies on the service
        QTest::addColumn<int>("minutesLater");   // its time against the running build's
        QTest::addColumn<QStringList>("middle"); // status texts between the first and the last
        QTest::addColumn<QString>("serverTime"); // as shown after " | Baru: "; "*" = its time
        QTest::addColumn<bool>("handsOver");
        QTest::addColumn<QString>("metBefore"); // the time already kept under this key
        QTest::addColumn<QString>("keeps");     // the key the check keeps the time under
        const QString checkFailed = UpdateText::CheckFailed;
        const QString installed = kInstalledTimeKey;
        const QString refused = kRefusedTimeKey;
        const QString downloading = UpdateText::Downloading;
        const QString downloadFailed = UpdateText::DownloadFailed;
        QTest::newRow("newer build")
            << "good" << 60 << QStringList{downloading, UpdateText::Downloaded} << "*" << true << ""
            << installed;
        QTest::newRow("same time")
            << "good" << 0 << QStringList{UpdateText::UpToDate} << "*" << false << ""
            << "";
        QTest::newRow("older build")
            << "good" << -60 << QStringList{UpdateText::UpToDate} << "*" << false << ""
            << "";
        QTest::newRow("nothing published")
            << "none" << 0 << QStringList{checkFailed} << "Error: 404" << false << ""
            << "";
        QTest::newRow("service unreachable")
            << "unreachable" << 0 << QStringList{checkFailed} << "" << false << ""
            << "";
        QTest::newRow("foreign file") << "foreign" << 60 << QStringList{downloading, downloadFailed}
                                      << "*" << false << "" << refused;
        // A clock behind the service's sees the installed build as newer at every check.
        QTest::newRow("installed before") << "good" << 300 << QStringList{UpdateText::UpToDate}
                                          << "*" << false << installed << "";
        QTest::newRow("refused before")
            << "good" << 60 << QStringList{downloadFailed} << "*" << false << refused << "";
    }
    void check()
    {
        QFETCH(QString, published);
        QFETCH(int, minutesLater);
        QFETCH(QStringList, middle);
        QFETCH(QString, serverTime);
        QFETCH(bool, handsOver);
        QFETCH(QString, metBefore);
        QFETCH(QString, keeps);

        TestService service;
        QTemporaryDir folder;
        const QString running = folder.filePath(exe("Q17-Tallyframe"));
        writeFile(running, buildBytes(kRunningSize), m_localTime);
        const QDateTime publishedTime = m_localTime.addSecs(60 * minutesLater);
        QByteArray bytes = buildBytes(kRunningSize + 500, kHeader, 'n');
        if (published == "foreign")
            bytes = buildBytes(kRunningSize + 500, "<html>");
        if (published != "none" && published != "unreachable")
            publish(service, kPublished, bytes, publishedTime);

        std::unique_ptr<ServiceUrlGuard> unreachable;
        if (published == "unreachable")
            unreachable = std::make_unique<ServiceUrlGuard>(QStringLiteral("http://127.0.0.1:1"));
        if (serverTime == "*")
            serverTime = publishedTime.toString("yyyy-MM-dd HH:mm:ss");

        Recorder r;
        if (!metBefore.isEmpty())
            r.memory[metBefore] = serverTime;
        const UpdateOutcome outcome =
            runCheck({native(folder.path()), "Q17-Tallyframe", kExe}, r.hooks());
        QMap<QString, QString> kept;
        if (!metBefore.isEmpty())
            kept[metBefore] = serverTime;
        if (!keeps.isEmpty())
            kept[keeps] = serverTime;
        QCOMPARE(r.memory, kept);

        const QStringList expected =
            QStringList{UpdateText::Checking} + middle +
            QStringList{"Sekarang: " + localText() + " | Baru: " + serverTime};
        QCOMPARE(r.prompts, expected);
        const QString downloaded = folder.filePath(exe("Q17-Tallyframe-NEW"));
        if (handsOver) {
            QCOMPARE(int(outcome), int(UpdateOutcome::HandedOver));
            QCOMPARE(r.started, QStringList{native(downloaded)});
            QCOMPARE(r.ended, 1);
            QCOMPARE(readFile(downloaded), bytes);
            QVERIFY(QFileInfo(downloaded).isExecutable());
            QCOMPARE(entries(folder.path()), (exeFiles({"Q17-Tallyframe", "Q17-Tallyframe-NEW"})));
        } else {
            QCOMPARE(int(outcome), int(UpdateOutcome::Continued));
            QVERIFY(r.started.isEmpty());
            QCOMPARE(r.ended, 0);
            // Nothing half-done is left behind, and the running build is untouched.
            QCOMPARE(entries(folder.path()), exeFiles({"Q17-Tallyframe"}));
        }
        QCOMPARE(readFile(running), buildBytes(kRunningSize));
    }

    void download_data()
    {
        QTest::addColumn<QString>("served");
        QTest::addColumn<QString>("where");   // "service", "other", "https", "files" (FileServer)
        QTest::addColumn<QString>("signing"); // "" no key; else how the signature file is made
        QTest::addColumn<int>("verdict");
        const int accepted = int(DownloadVerdict::Accepted);
        const int failed = int(DownloadVerdict::Failed);
        const int refused = int(DownloadVerdict::Refused);
        QTest::newRow("complete build") << "good"
                                        << "service"
                                        << "" << accepted;
        QTest::newRow("1000 bytes short") << "short1000"
                                          << "service"
                                          << "" << refused;
        QTest::newRow("foreign file") << "foreign"
                                      << "service"
                                      << "" << refused;
        QTest::newRow("not published") << "none"
                                       << "service"
                                       << "" << failed;
        QTest::newRow("cut off after half") << "truncated"
                                            << "service"
                                            << "" << failed;
        QTest::newRow("another host") << "good"
                                      << "other"
                                      << "" << failed;
        QTest::newRow("another scheme") << "good"
                                        << "https"
                                        << "" << failed;
        // Transfers other web servers make of a good build.
        QTest::newRow("chunked") << "good"
                                 << "chunked"
                                 << "" << accepted;
        QTest::newRow("compressed when asked") << "good"
                                               << "compressed"
                                               << "" << accepted;
        // With a key, the signature decides, whatever the length.
        QTest::newRow("signed") << "good"
                                << "service"
                                << "signed" << accepted;
        QTest::newRow("signed, much smaller") << "small"
                                              << "service"
                                              << "signed" << accepted;
        QTest::newRow("signed, chunked") << "small"
                                         << "chunked"
                                         << "signed" << accepted;
        QTest::newRow("signed, newer version") << "good"
                                               << "service"
                                               << "newer" << accepted;
        QTest::newRow("signed, older version") << "good"
                                               << "service"
                                               << "older" << refused;
        QTest::newRow("signed with another key") << "good"
                                                 << "service"
                                                 << "other key" << refused;
        QTest::newRow("signature of another build") << "good"
                                                    << "service"
                                                    << "other build" << refused;
        QTest::newRow("signed, not an executable") << "foreign"
                                                   << "service"
                                                   << "signed" << refused;
        QTest::newRow("no signature published") << "good"
                                                << "service"
                                                << "none" << refused;
        QTest::newRow("unreadable signature file") << "good"
                                                   << "service"
                                                   << "garbage" << refused;
    }
    void download()
    {
        QFETCH(QString, served);
        QFETCH(QString, where);
        QFETCH(QString, signing);
        QFETCH(int, verdict);
        const bool expected = verdict == int(DownloadVerdict::Accepted);

        TestService service;
        QTemporaryDir folder;
        const QString running = folder.filePath(exe("Q17-Tallyframe"));
        writeFile(running, buildBytes(kRunningSize));
        const QString target = folder.filePath(exe("Q17-Tallyframe-NEW"));
        // A download that is refused leaves an earlier file of that name alone.
        writeFile(target, "earlier");

        QByteArray bytes = buildBytes(kRunningSize + 3000, kHeader, 'n');
        if (served == "short1000")
            bytes = buildBytes(kRunningSize - 1000);
        else if (served == "small")
            bytes = buildBytes(kRunningSize / 4, kHeader, 's');
        else if (served == "foreign")
            bytes = buildBytes(kRunningSize, "PK\x03\x04");
        if (served != "none")
            publish(service, kPublished, bytes, QDateTime::currentDateTime());
        if (served == "truncated") {
            FaultConfig faults;
            faults.rate = 1.0;
            faults.kinds = {QStringLiteral("truncate")};
            QVERIFY(service.server().setFaults(faults));
        }

        BuildCheck check;
        check.referenceFile = running;
        check.minimumVersion = "1.4.2";
        QByteArray signatureFile;
        if (!signing.isEmpty()) {
            QByteArray secret, otherPublic, otherSecret;
            QVERIFY(GenerateUpdateKeys(&check.publicKey, &secret));
            QVERIFY(GenerateUpdateKeys(&otherPublic, &otherSecret));
            const QString signedFile = folder.filePath("to-sign");
            writeFile(signedFile, signing == "other build" ? bytes + "x" : bytes);
            const QString version = signing == "older"   ? "1.4.1"
                                    : signing == "newer" ? "1.10.0"
                                                         : "1.4.2";
            const QByteArray signature =
                SignBuild(signedFile, version, signing == "other key" ? otherSecret : secret);
            QCOMPARE(signature.size(), 64);
            QFile::remove(signedFile);
            signatureFile = SignatureFileText({version, signature});
            if (signing == "garbage")
                signatureFile = "version: 1.4.2\nsignature: not base64!\n";
            if (signing != "none")
                publish(service, kPublished + ".sig", signatureFile, QDateTime::currentDateTime());
        }

        CannedHttpServer other;
        other.body = bytes;
        FileServer files;
        files.files[("/api/app/" + kPublished).toUtf8()] = bytes;
        if (!signatureFile.isEmpty() && signing != "none")
            files.files[("/api/app/" + kPublished + ".sig").toUtf8()] = signatureFile;
        files.chunked = where == "chunked";
        files.compressWhenAsked = where == "compressed";
        std::unique_ptr<ServiceUrlGuard> onFiles;
        QString base = service.baseUrl();
        if (where == "chunked" || where == "compressed") {
            base = files.baseUrl();
            onFiles = std::make_unique<ServiceUrlGuard>(base);
        }
        QString address = base + "/api/app/" + kPublished;
        check.signatureAddress = address + ".sig";
        if (where == "other")
            address = other.baseUrl() + "/api/app/" + kPublished;
        else if (where == "https")
            address.replace("http://", "https://");

        check.service = ServiceSettings::fromEnvironment();
        if (signing.isEmpty())
            QCOMPARE(DownloadFile(check.service, address, target, running),
                     qint16(expected ? 1 : 0));
        else
            QCOMPARE(int(DownloadBuild(address, target, check)), verdict);
        QCOMPARE(readFile(target), expected ? bytes : QByteArray("earlier"));
        QCOMPARE(entries(folder.path()), (exeFiles({"Q17-Tallyframe", "Q17-Tallyframe-NEW"})));
        if (expected)
            QVERIFY(QFileInfo(target).isExecutable());
        QVERIFY(other.requestLines.isEmpty());
        // Compression would hide the announced length: the agent asks for the bytes as they are.
        for (const QByteArray& accepted : std::as_const(files.acceptEncodings))
            QCOMPARE(accepted, QByteArray("identity"));
        if (signing.isEmpty() && where == "service")
            QCOMPARE(int(DownloadBuild(address, target, check)),
                     expected ? int(DownloadVerdict::Accepted) : verdict);
    }

    // What an interrupted update leaves beside the program goes; everything else stays.
    void leftovers_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("removed");
        QTest::newRow("unfinished download") << "Q17-Tallyframe-NEW.a1B2c3.part" << true;
        QTest::newRow("unfinished copy") << "Q17-Tallyframe.Zx9y8W" << true;
        QTest::newRow("unfinished marker") << "Q17-Tallyframe-TMP.000aaa" << true;
        QTest::newRow("the build") << "Q17-Tallyframe" << false;
        QTest::newRow("waiting download") << "Q17-Tallyframe-NEW" << false;
        QTest::newRow("marker") << "Q17-Tallyframe-TMP" << false;
        QTest::newRow("seven letters") << "Q17-Tallyframe.abcdefg" << false;
        QTest::newRow("another program's") << "Other.a1B2c3" << false;
        QTest::newRow("another part") << "notes.a1B2c3.part" << false;
        QTest::newRow("a sign") << "Q17-Tallyframe.a1-2c3" << false;
    }
    void leftovers()
    {
        QFETCH(QString, name);
        QFETCH(bool, removed);
        QTemporaryDir folder;
        writeFile(folder.filePath(name), "x");
        RemoveUpdateLeftovers({folder.path(), "Q17-Tallyframe-NEW", ""});
        QCOMPARE(QFileInfo::exists(folder.filePath(name)), !removed);
        // Bundle1 does no file work at all.
        writeFile(folder.filePath("Bundle1.a1B2c3"), "x");
        RemoveUpdateLeftovers({folder.path(), "Bundle1", ""});
        QVERIFY(QFileInfo::exists(folder.filePath("Bundle1.a1B2c3")));
    }

    // Which runs belong to the hand-over (no consent window, and they wait for their
    // predecessor's lock).
    void handOverRun_data()
    {
        QTest::addColumn<QString>("baseName");
        QTest::addColumn<bool>("marker");
        QTest::addColumn<bool>("handOver");
        QTest::newRow("usual") << "Q17-Tallyframe" << false << false;
        QTest::newRow("usual after a swap") << "Q17-Tallyframe" << true << true;
        QTest::newRow("downloaded") << "Q17-Tallyframe-NEW" << false << true;
        QTest::newRow("marker running") << "Q17-Tallyframe-TMP" << false << true;
        QTest::newRow("Bundle1") << "Bundle1" << true << false;
    }
    void handOverRun()
    {
        QFETCH(QString, baseName);
        QFETCH(bool, marker);
        QFETCH(bool, handOver);
        QTemporaryDir folder;
        if (marker)
            writeFile(folder.filePath(baseName + "-TMP"), "x");
        QCOMPARE(IsHandOverRun({folder.path(), baseName, ""}), handOver);
    }

    // What the usual build does with the files it finds, also when its own check failed.
    void handOverStates_data()
    {
        QTest::addColumn<QString>("downloaded"); // "", "good", "short999", "short1000", "foreign"
        QTest::addColumn<bool>("marker");
        QTest::addColumn<bool>("starts");
        QTest::addColumn<QStringList>("left");
        QTest::addColumn<QString>("lastPrompt"); // "" = the time line
        QTest::addColumn<bool>("withKey");
        const QStringList usual = exeFiles({"Q17-Tallyframe"});
        const QStringList waiting = exeFiles({"Q17-Tallyframe", "Q17-Tallyframe-NEW"});
        QTest::newRow("nothing pending") << "" << false << false << usual << "" << false;
        QTest::newRow("download waiting") << "good" << false << true << waiting << "" << false;
        QTest::newRow("waiting, 999 bytes short")
            << "short999" << false << true << waiting << "" << false;
        QTest::newRow("waiting, 1000 bytes short")
            << "short1000" << false << false << usual << UpdateText::DownloadFailed << false;
        QTest::newRow("waiting, foreign")
            << "foreign" << false << false << usual << UpdateText::DownloadFailed << false;
        QTest::newRow("swap completed") << "good" << true << false << usual << "" << false;
        QTest::newRow("stray marker") << "" << true << false << usual << "" << false;
        // A signed build was checked whole when it came: a small one is started too.
        QTest::newRow("signed, much smaller") << "small" << false << true << waiting << "" << true;
        QTest::newRow("signed, foreign")
            << "foreign" << false << false << usual << UpdateText::DownloadFailed << true;
    }
    void handOverStates()
    {
        QFETCH(QString, downloaded);
        QFETCH(bool, marker);
        QFETCH(bool, starts);
        QFETCH(QStringList, left);
        QFETCH(QString, lastPrompt);
        QFETCH(bool, withKey);

        TestService service; // publishes nothing: the check itself fails
        QTemporaryDir folder;
        writeFile(folder.filePath(exe("Q17-Tallyframe")), buildBytes(kRunningSize), m_localTime);
        const QMap<QString, QByteArray> kinds{{"good", buildBytes(kRunningSize + 10)},
                                              {"short999", buildBytes(kRunningSize - 999)},
                                              {"short1000", buildBytes(kRunningSize - 1000)},
                                              {"small", buildBytes(kRunningSize / 4)},
                                              {"foreign", buildBytes(kRunningSize, "#!/bin/sh\n")}};
        if (!downloaded.isEmpty())
            writeFile(folder.filePath(exe("Q17-Tallyframe-NEW")), kinds[downloaded]);
        if (marker)
            writeFile(folder.filePath(exe("Q17-Tallyframe-TMP")), kinds["good"]);

        Recorder r;
        const QByteArray key = withKey ? QByteArray(32, 'k') : QByteArray();
        const UpdateOutcome outcome =
            runCheck({native(folder.path()), "Q17-Tallyframe", kExe, key, "1.0.0"}, r.hooks());
        QCOMPARE(r.prompts.value(1), QString(UpdateText::CheckFailed));
        QCOMPARE(r.prompts.last(), lastPrompt.isEmpty()
                                       ? "Sekarang: " + localText() + " | Baru: Error: 404"
                                       : lastPrompt);
        QCOMPARE(r.started, starts ? QStringList{native(folder.filePath(exe("Q17-Tallyframe-NEW")))}
                                   : QStringList{});
        QCOMPARE(r.ended, starts ? 1 : 0);
        QCOMPARE(int(outcome), int(starts ? UpdateOutcome::HandedOver : UpdateOutcome::Continued));
        QCOMPARE(entries(folder.path()), left);
    }

    // The downloaded build replaces the usual one, which is still running at first and ends a
    // moment later, as the first run does after starting the download.
    void downloadedBuildReplacesRunningBuild()
    {
        QTemporaryDir folder;
        const QString usual = folder.filePath(exe("Q17-Tallyframe"));
        const QString self = folder.filePath(exe("Q17-Tallyframe-NEW"));
        const QByteArray newBytes = buildBytes(kRunningSize + 123, kHeader, 'n');
#ifdef Q_OS_WIN
        // A program that stays up: the agent itself (it waits in its consent window).
        QVERIFY(QFile::copy(qEnvironmentVariable("TALLYFRAME_AGENT_BIN"), usual));
        const QStringList arguments;
#else
        QVERIFY(QFile::copy(QStringLiteral("/bin/sleep"), usual));
        const QStringList arguments{QStringLiteral("30")};
#endif
        writeFile(self, newBytes);
        QVERIFY(QFile::setPermissions(self, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                QFile::ReadGroup | QFile::ExeGroup));

        QProcess old;
        old.start(usual, arguments);
        QVERIFY(old.waitForStarted());
        QTest::qWait(500);
        // Writing into a running program in place is refused (ETXTBSY here, a sharing
        // violation on Windows, where it can be neither renamed over nor deleted either).
        QFile inPlace(usual);
        QVERIFY(!inPlace.open(QIODevice::WriteOnly | QIODevice::Append));
        QTimer::singleShot(1000, &old, [&old] { old.kill(); });

        // Any request would fail: the downloaded build must not ask the service anything.
        ServiceUrlGuard noService(QStringLiteral("http://127.0.0.1:1"));
        Recorder r;
        const UpdateOutcome outcome =
            runCheck({native(folder.path()), "Q17-Tallyframe-NEW", kExe}, r.hooks(5000));
        old.kill();
        old.waitForFinished();

        QCOMPARE(r.prompts, QStringList{"Sekarang:  | Baru: "});
        QCOMPARE(r.started, QStringList{native(usual)});
        QCOMPARE(r.ended, 1);
        QCOMPARE(int(outcome), int(UpdateOutcome::HandedOver));
        QCOMPARE(readFile(usual), newBytes);
        QCOMPARE(readFile(folder.filePath(exe("Q17-Tallyframe-TMP"))), newBytes);
        QCOMPARE(QFileInfo(usual).permissions() & 0x7777, QFileInfo(self).permissions() & 0x7777);
        QCOMPARE(entries(folder.path()),
                 (exeFiles({"Q17-Tallyframe", "Q17-Tallyframe-NEW", "Q17-Tallyframe-TMP"})));
    }

    // Ending the process when its successor did not start would leave no agent running at all.
    void failedStartNeverEnds_data()
    {
        QTest::addColumn<QString>("runningAs");
        QTest::newRow("download waiting") << "Q17-Tallyframe";
        QTest::newRow("downloaded build swapping in") << "Q17-Tallyframe-NEW";
    }
    void failedStartNeverEnds()
    {
        QFETCH(QString, runningAs);
        TestService service;
        QTemporaryDir folder;
        writeFile(folder.filePath(exe("Q17-Tallyframe")), buildBytes(kRunningSize), m_localTime);
        writeFile(folder.filePath(exe("Q17-Tallyframe-NEW")), buildBytes(kRunningSize + 10));
        Recorder r;
        r.startSucceeds = false;
        const UpdateOutcome outcome = runCheck({native(folder.path()), runningAs, kExe}, r.hooks());
        QCOMPARE(r.started.size(), 1);
        QCOMPARE(r.ended, 0);
        QCOMPARE(int(outcome), int(UpdateOutcome::Continued));
    }

    // A file that is busy for a moment is waited for; one that stays busy is reported.
    void fileRetries()
    {
        QTemporaryDir folder;
        const QString source = folder.filePath("source");
        writeFile(source, buildBytes(100));
        const QString busy = folder.filePath("busy");
        QVERIFY(QDir().mkpath(busy + "/inside"));
        QTimer::singleShot(600, [busy] { QDir(busy).removeRecursively(); });
        ReplaceFile(source, busy, 5000);
        QCOMPARE(readFile(busy), buildBytes(100));

        QVERIFY(QDir().mkpath(busy + "2/inside"));
        QVERIFY_THROWS_EXCEPTION(UpdateFileError, ReplaceFile(source, busy + "2", 300));
        QVERIFY_THROWS_EXCEPTION(UpdateFileError, RemoveFile(busy + "2", 300));
        RemoveFile(folder.filePath("never there"), 300);

        // In the swap, a usual build that cannot be replaced leaves this process running.
        const QString self = folder.filePath(exe("Q17-Tallyframe-NEW"));
        writeFile(self, buildBytes(kRunningSize));
        QVERIFY(QDir().mkpath(folder.filePath(exe("Q17-Tallyframe") + "/inside")));
        Recorder r;
        const UpdateOutcome outcome =
            runCheck({native(folder.path()), "Q17-Tallyframe-NEW", kExe}, r.hooks(300));
        QCOMPARE(int(outcome), int(UpdateOutcome::Continued));
        QVERIFY2(r.prompts.last().startsWith("Gagal mengganti " +
                                             native(folder.filePath(exe("Q17-Tallyframe")))),
                 qPrintable(r.prompts.last()));
        QVERIFY(r.started.isEmpty());
        QCOMPARE(r.ended, 0);
    }

    void bundle1NeverChecks()
    {
        CannedHttpServer service;
        ServiceUrlGuard guard(service.baseUrl());
        QTemporaryDir folder;
        writeFile(folder.filePath(exe("Bundle1")), buildBytes(kRunningSize));
        writeFile(folder.filePath(exe("Bundle1-NEW")), buildBytes(kRunningSize));
        Recorder r;
        QCOMPARE(int(runCheck({native(folder.path()), "Bundle1", kExe}, r.hooks())),
                 int(UpdateOutcome::Continued));
        QVERIFY(r.prompts.isEmpty());
        QVERIFY(r.started.isEmpty());
        QVERIFY(service.requestLines.isEmpty());
        QCOMPARE(entries(folder.path()), (exeFiles({"Bundle1", "Bundle1-NEW"})));
    }

    // The window: the sixth tick checks, the caption is set, a hand-over ends the process.
    void windowSide()
    {
        ScriptedDialogs dialogs;
        TestService service;
        QTemporaryDir folder;
        writeFile(folder.filePath(exe("Q17-Tallyframe")), buildBytes(kRunningSize), m_localTime);
        const QString caption = "Q17 Tallyframe - Versi " + ServiceConfig::versionText();
        const QString timeLine = "Sekarang: " + localText() + " | Baru: Error: 404";

        ServiceClient client;

        Form1 form(client, dialogs, {native(folder.path()), "Q17-Tallyframe"});
        // The counter lives as long as the process: find where it stands, then count.
        int ticks = 0;
        while (form.LblResponse->text() != timeLine && ticks < 6) {
            form.TmrAutoUpdt_Timer();
            ++ticks;
        }
        QCOMPARE(form.LblResponse->text(), timeLine);
        QCOMPARE(form.windowTitle(), caption);
        form.LblResponse->setText("idle");
        for (int i = 1; i <= 5; ++i)
            form.TmrAutoUpdt_Timer();
        QCOMPARE(form.LblResponse->text(), QStringLiteral("idle"));
        form.TmrAutoUpdt_Timer();
        QCOMPARE(form.LblResponse->text(), timeLine);

        // A waiting download is started through OpenUrl, and the process is told to end.
        writeFile(folder.filePath(exe("Q17-Tallyframe-NEW")), buildBytes(kRunningSize));
        form.setWindowTitle("before");
        form.Image1_DblClick();
        QCOMPARE(dialogs.opened.size(), 1);
        QCOMPARE(dialogs.opened[0].target, native(folder.filePath(exe("Q17-Tallyframe-NEW"))));
        QCOMPARE(dialogs.opened[0].showMode, 1);
        QCOMPARE(dialogs.endApps, 1);
        QCOMPARE(form.windowTitle(), QStringLiteral("before"));

        // Bundle1 only sets the caption.
        Form1 bundle(client, dialogs, {native(folder.path()), "Bundle1"});
        bundle.LblResponse->setText("idle");
        bundle.setWindowTitle("before");
        bundle.CekUpdt();
        QCOMPARE(bundle.LblResponse->text(), QStringLiteral("idle"));
        QCOMPARE(bundle.windowTitle(), caption);
        QCOMPARE(dialogs.opened.size(), 1);
    }
};

QTEST_MAIN(TestSelfUpdate)
#include "tst_selfupdate.moc"
