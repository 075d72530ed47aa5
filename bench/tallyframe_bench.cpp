// The bench's Qt side, one program with three modes:
//   generate ROWS SEED SQLITE_FILE PG_COPY_FILE   the seeded table, for SQLite and for COPY
//   sink PORT_FILE [--hash]                        an HTTP sink and a raw TCP sink that discard
//   agent CONNSTR SQL URL                          the agent's report path, timed
// Each timed mode prints key=value pairs on one line.
#include "pipeline/OdbcConnection.h"
#include "pipeline/ReportFooter.h"
#include "pipeline/ReportRun.h"
#include "service/ServiceClient.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDate>
#include <QElapsedTimer>
#include <QFile>
#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponse>
#include <QLoggingCategory>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextStream>

#include <sys/resource.h>

#include <cstdio>
#include <random>

namespace {

long peakRssKb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// --- generator ----------------------------------------------------------------------------

struct Row
{
    qint64 id;
    std::optional<QString> note;
    QString amount;
    double ratio;
    QString day, stamp;
    int flag;
    QString code;
};

class RowMaker
{
public:
    explicit RowMaker(quint64 seed) : m_random(seed) {}

    Row make(qint64 id)
    {
        static const QStringList words = {
            QStringLiteral("Beras"),        QStringLiteral("Gula \"pasir\""),
            QStringLiteral("C:\\gudang\\"), QStringLiteral("baris\nbaru"),
            QStringLiteral("caf\u00e9"),    QStringLiteral("\u65e5\u672c\u8a9e"),
            QStringLiteral("Jl. Sudirman"), QStringLiteral("tab\there"),
            QStringLiteral("Kopi \u2615"),  QStringLiteral("Minyak 2L"),
            QStringLiteral("\U0001F600"),   QStringLiteral("Toko Maju"),
        };
        Row row;
        row.id = id;
        if (pick(20) != 0) {
            QString note;
            const int count = 1 + int(pick(12));
            for (int i = 0; i < count; ++i) {
                if (i)
                    note += QLatin1Char(' ');
                note += words[int(pick(quint64(words.size())))];
            }
            row.note = note;
        }
        const quint64 cents = pick(10000000000ull);
        row.amount =
            QStringLiteral("%1.%2").arg(cents / 100).arg(cents % 100, 2, 10, QLatin1Char('0'));
        row.ratio = double(pick(100000000)) / double(1 + pick(9999));
        const QDate day = QDate(2020, 1, 1).addDays(qint64(pick(2000)));
        row.day = day.toString(Qt::ISODate);
        row.stamp = day.toString(Qt::ISODate) + QLatin1Char(' ') +
                    QTime(0, 0).addSecs(int(pick(86400))).toString(QStringLiteral("HH:mm:ss"));
        row.flag = int(pick(2));
        row.code = QStringLiteral("K%1").arg(pick(100000), 5, 10, QLatin1Char('0'));
        return row;
    }

private:
    quint64 pick(quint64 bound)
    {
        return std::uniform_int_distribution<quint64>(0, bound - 1)(m_random);
    }
    std::mt19937_64 m_random;
};

// COPY text format: backslash, tab, line feed and carriage return escaped; NULL as \N.
QString copyField(const QString& value)
{
    QString out;
    out.reserve(value.size());
    for (const QChar c : value) {
        switch (c.unicode()) {
        case '\\':
            out += QStringLiteral("\\\\");
            break;
        case '\t':
            out += QStringLiteral("\\t");
            break;
        case '\n':
            out += QStringLiteral("\\n");
            break;
        case '\r':
            out += QStringLiteral("\\r");
            break;
        default:
            out += c;
        }
    }
    return out;
}

int generate(qint64 rows, quint64 seed, const QString& sqlitePath, const QString& copyPath)
{
    QFile::remove(sqlitePath);
    QFile copy(copyPath);
    if (!copy.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(copyPath));
        return 1;
    }
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("gen"));
        db.setDatabaseName(sqlitePath);
        if (!db.open()) {
            std::fprintf(stderr, "cannot create %s\n", qPrintable(sqlitePath));
            return 1;
        }
        QSqlQuery q(db);
        q.exec(QStringLiteral("PRAGMA journal_mode=OFF"));
        q.exec(QStringLiteral("PRAGMA synchronous=OFF"));
        q.exec(
            QStringLiteral("CREATE TABLE bench (id INTEGER, note TEXT, amount DECIMAL(12,2), "
                           "ratio REAL, day DATE, stamp DATETIME, flag INTEGER, code VARCHAR(8))"));
        db.transaction();
        q.prepare(QStringLiteral("INSERT INTO bench VALUES (?, ?, ?, ?, ?, ?, ?, ?)"));
        RowMaker maker(seed);
        QByteArray line;
        for (qint64 i = 1; i <= rows; ++i) {
            const Row r = maker.make(i);
            q.bindValue(0, r.id);
            q.bindValue(1, r.note ? QVariant(*r.note) : QVariant(QMetaType::fromType<QString>()));
            q.bindValue(2, r.amount.toDouble());
            q.bindValue(3, r.ratio);
            q.bindValue(4, r.day);
            q.bindValue(5, r.stamp);
            q.bindValue(6, r.flag);
            q.bindValue(7, r.code);
            if (!q.exec()) {
                std::fprintf(stderr, "insert failed: %s\n", qPrintable(q.lastError().text()));
                return 1;
            }
            line = QStringLiteral("%1\t%2\t%3\t%4\t%5\t%6\t%7\t%8\n")
                       .arg(r.id)
                       .arg(r.note ? copyField(*r.note) : QStringLiteral("\\N"), r.amount)
                       .arg(QString::number(r.ratio, 'g', 17), r.day, r.stamp)
                       .arg(r.flag)
                       .arg(r.code)
                       .toUtf8();
            copy.write(line);
        }
        db.commit();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("gen"));
    return 0;
}

// --- sink ---------------------------------------------------------------------------------

// Answers one upload per connection without keeping it: reads the request head, then drops as
// many body bytes as it announced. Only for timing, where QHttpServer's habit of holding the
// whole body would be measured instead of the agent; the check pass uses QHttpServer.
void discardUploads(QTcpServer* server)
{
    QObject::connect(server, &QTcpServer::newConnection, server, [server] {
        while (QTcpSocket* socket = server->nextPendingConnection()) {
            struct State
            {
                QByteArray head;
                qint64 remaining = -1;
                qint64 total = 0;
            };
            auto state = std::make_shared<State>();
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, state] {
                while (socket->bytesAvailable() > 0) {
                    if (state->remaining < 0) {
                        state->head += socket->read(4096);
                        const qsizetype end = state->head.indexOf("\r\n\r\n");
                        if (end < 0)
                            continue;
                        qint64 length = 0;
                        for (const QByteArray& line : state->head.left(end).split('\n')) {
                            if (line.toLower().startsWith("content-length:"))
                                length = line.mid(15).trimmed().toLongLong();
                        }
                        const qint64 already = state->head.size() - (end + 4);
                        state->total = length;
                        state->remaining = length - already;
                    } else {
                        state->remaining -= socket->skip(socket->bytesAvailable());
                    }
                    if (state->remaining == 0) {
                        const QByteArray body = "OK bytes=" + QByteArray::number(state->total);
                        socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n"
                                      "Connection: close\r\nContent-Length: " +
                                      QByteArray::number(body.size()) + "\r\n\r\n" + body);
                        socket->disconnectFromHost();
                        state->remaining = -2;
                    }
                }
            });
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

int sink(const QString& portFile, bool hash)
{
    // HTTP for the agent's upload, raw TCP for the floor's pieces (read and dropped as they
    // come). With --hash both report a SHA-1 of what they got, and the HTTP side is QHttpServer.
    quint16 httpPort = 0;
    if (hash) {
        auto* http = new QHttpServer(qApp);
        http->route(QStringLiteral("/api/save-json.php"), [](const QHttpServerRequest& request) {
            return QHttpServerResponse(
                "OK bytes=" + QByteArray::number(request.body().size()) + " sha1=" +
                QCryptographicHash::hash(request.body(), QCryptographicHash::Sha1).toHex());
        });
        httpPort = http->listen(QHostAddress::LocalHost, 0);
    } else {
        auto* discard = new QTcpServer(qApp);
        discardUploads(discard);
        if (discard->listen(QHostAddress::LocalHost, 0))
            httpPort = discard->serverPort();
    }

    auto* raw = new QTcpServer(qApp);
    QObject::connect(raw, &QTcpServer::newConnection, raw, [raw, hash] {
        while (QTcpSocket* socket = raw->nextPendingConnection()) {
            auto bytes = std::make_shared<qint64>(0);
            auto digest = std::make_shared<QCryptographicHash>(QCryptographicHash::Sha1);
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, bytes, digest, hash] {
                const QByteArray piece = socket->readAll();
                *bytes += piece.size();
                if (hash)
                    digest->addData(piece);
            });
            QObject::connect(
                socket, &QTcpSocket::disconnected, socket, [socket, bytes, digest, hash] {
                    const QByteArray piece = socket->readAll();
                    *bytes += piece.size();
                    if (hash)
                        digest->addData(piece);
                    std::printf("raw bytes=%lld%s\n", static_cast<long long>(*bytes),
                                hash ? (" sha1=" + digest->result().toHex()).constData() : "");
                    std::fflush(stdout);
                    socket->deleteLater();
                });
        }
    });
    raw->listen(QHostAddress::LocalHost, 0);

    QFile out(portFile);
    if (!httpPort || !raw->isListening() || !out.open(QIODevice::WriteOnly))
        return 1;
    out.write(QByteArray::number(httpPort) + ' ' + QByteArray::number(raw->serverPort()) + '\n');
    out.close();
    return QCoreApplication::exec();
}

// --- agent --------------------------------------------------------------------------------

int agent(const QString& connStr, const QString& sql, const QString& url)
{
    // Only the figures on stdout; the run's own progress lines are not wanted here.
    QLoggingCategory::setFilterRules(QStringLiteral("tallyframe.pipeline.info=false"));
    // The same footer as the floor writes, so that both documents can be compared byte for byte.
    footerRandom().reset();

    ServiceClient service({url});
    ReportRunHost host;
    host.service = &service;
    host.now = [] { return QDateTime(QDate(2026, 12, 7), QTime(10, 15, 0)); };
    QString failure;
    host.prompting = [](const QString&) {};
    host.setTxtRs = [&failure](const QString& text) { failure = text; };
    host.messageBox = [](const QString&, int) {};
    std::unique_ptr<OdbcConnection> connection;

    QElapsedTimer timer;
    timer.start();
    const ReportRun run = RunReportQuery(sql, QStringLiteral("bench"), QStringLiteral("Bench"),
                                         connStr, connection, host);
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    if (run.outcome != ReportRun::Uploaded) {
        std::fprintf(stderr, "agent run failed: %s\n", qPrintable(failure));
        return 1;
    }
    std::printf("seconds=%.3f peak_rss_kb=%ld reply=%s\n", seconds, peakRssKb(),
                qPrintable(run.text.simplified().replace(QLatin1Char(' '), QLatin1Char('_'))));
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString mode = args.value(1);
    if (mode == QLatin1String("generate") && args.size() == 6)
        return generate(args[2].toLongLong(), args[3].toULongLong(), args[4], args[5]);
    if (mode == QLatin1String("sink") && args.size() >= 3)
        return sink(args[2], args.contains(QStringLiteral("--hash")));
    if (mode == QLatin1String("agent") && args.size() == 5)
        return agent(args[2], args[3], args[4]);
    std::fprintf(stderr,
                 "usage: %s generate ROWS SEED SQLITE_FILE PG_COPY_FILE\n"
                 "       %s sink PORT_FILE [--hash]\n"
                 "       %s agent CONNSTR SQL URL\n",
                 argv[0], argv[0], argv[0]);
    return 2;
}
