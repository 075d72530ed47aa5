// The query editor and report viewer pages: login session, escaping of stored values, paging and
// downloads.
#include "HttpTestClient.h"
#include "ReportDocument.h"
#include "TallyServer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace {

QByteArray documentWithRows(int rows)
{
    QJsonArray data;
    for (int i = 1; i <= rows; ++i)
        data.append(QJsonObject{{"n", QString::number(i)}});
    return QJsonDocument(
               QJsonObject{{"fileName", "numbers"}, {"header", QJsonArray{"n"}}, {"data", data}})
        .toJson(QJsonDocument::Compact);
}

QByteArray form(const QList<std::pair<QString, QString>>& fields)
{
    QByteArray body;
    for (const auto& [key, value] : fields)
        body += (body.isEmpty() ? "" : "&") + QUrl::toPercentEncoding(key) + '=' +
                QUrl::toPercentEncoding(value);
    return body;
}

} // namespace

class TestServerWeb : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<TallyServer> m_server;
    std::unique_ptr<HttpTestClient> m_http;
    TallyStore::Company m_toko;

    TallyStore& store() { return m_server->store(); }

    QByteArray signIn(const QString& company, const QString& key)
    {
        const HttpResult result = m_http->post(
            "/api/ReportQ.php", form({{"action", "login"}, {"company", company}, {"apikey", key}}));
        return result.sessionCookie();
    }

    qint64 addReport(qint64 companyId, const QByteArray& document, const QString& title = "T",
                     const QString& fileName = "numbers")
    {
        TallyStore::Report info;
        info.companyId = companyId;
        info.urut = 1;
        info.title = title;
        info.fileName = fileName;
        info.rowCount = ReportDocument::parse(document)->rowCount();
        return store().addReport(info, document);
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_server = std::make_unique<TallyServer>(m_dir->path());
        QVERIFY(m_server->listen());
        m_http = std::make_unique<HttpTestClient>(m_server->baseUrl());
        m_toko = store().createCompany("Toko Maju", "DEV1", "", "", 0, "key-toko");
    }

    void cleanup()
    {
        m_http.reset();
        m_server.reset();
        m_dir.reset();
    }

    void loginSetsHttpOnlySessionCookie()
    {
        const HttpResult login =
            m_http->post("/api/ReportQ.php", "action=login&company=toko+maju&apikey=key-toko");
        QCOMPARE(login.status, 303);
        QCOMPARE(login.header("Location"), QByteArray("/api/ReportQ.php"));
        const QByteArray setCookie = login.header("Set-Cookie");
        QVERIFY2(QRegularExpression("^tf_session=[0-9a-f]{64}; ")
                     .match(QString::fromLatin1(setCookie))
                     .hasMatch(),
                 setCookie);
        QVERIFY(setCookie.contains("; HttpOnly"));
        QVERIFY(setCookie.contains("; SameSite=Lax"));

        const HttpResult editor = m_http->get("/api/ReportQ.php", login.sessionCookie());
        QCOMPARE(editor.status, 200);
        QVERIFY(editor.body.contains("id=\"queue-form\""));
        QVERIFY(editor.body.contains("id=\"session-company\">Toko Maju<"));
        // One session serves both pages.
        QVERIFY(m_http->get("/api/report.php", login.sessionCookie())
                    .body.contains("id=\"no-reports\""));

        const HttpResult anonymous = m_http->get("/api/ReportQ.php");
        QVERIFY(anonymous.body.contains("id=\"login-form\""));
        QVERIFY(!anonymous.body.contains("id=\"queue-form\""));
        QVERIFY(m_http->get("/api/ReportQ.php", "tf_session=forged").body.contains("login-form"));
    }

    void loginRefused_data()
    {
        QTest::addColumn<QString>("company");
        QTest::addColumn<QString>("key");
        QTest::newRow("wrong key") << "Toko Maju"
                                   << "key-other";
        QTest::newRow("unknown company") << "Toko Lain"
                                         << "key-toko";
        QTest::newRow("empty key") << "Toko Maju"
                                   << "";
    }

    void loginRefused()
    {
        QFETCH(QString, company);
        QFETCH(QString, key);
        const HttpResult result = m_http->post(
            "/api/report.php", form({{"action", "login"}, {"company", company}, {"apikey", key}}));
        QCOMPARE(result.status, 200);
        QVERIFY(result.body.contains("id=\"login-error\""));
        QVERIFY(result.header("Set-Cookie").isEmpty());
    }

    void logoutEndsSession()
    {
        const QByteArray cookie = signIn("Toko Maju", "key-toko");
        const HttpResult logout = m_http->post("/api/ReportQ.php", "action=logout", {}, cookie);
        QCOMPARE(logout.status, 303);
        QVERIFY(logout.header("Set-Cookie").contains("Max-Age=0"));
        QVERIFY(m_http->get("/api/ReportQ.php", cookie).body.contains("id=\"login-form\""));
    }

    void storedValuesAreEscaped()
    {
        const QByteArray doc =
            QJsonDocument(QJsonObject{
                              {"title", "<i>t</i>"},
                              {"fileName", "f"},
                              {"header", QJsonArray{"<u>c</u>"}},
                              {"data", QJsonArray{QJsonObject{{"<u>c</u>", "<b>x</b>"}}}},
                              {"footer", "<script>alert(1)</script>"},
                          })
                .toJson(QJsonDocument::Compact);
        const qint64 id = addReport(m_toko.id, doc, "<i>t</i>", "\"><img src=x>");
        store().queueRequest(m_toko.id, "SELECT '<b>s</b>'", "\" onmouseover=\"x", "<i>q</i>");
        const QByteArray cookie = signIn("Toko Maju", "key-toko");

        const QByteArray view =
            m_http->get(QStringLiteral("/api/report.php?id=%1").arg(id), cookie).body;
        QVERIFY(view.contains("<td>&lt;b&gt;x&lt;/b&gt;</td>"));
        QVERIFY(view.contains("<th>&lt;u&gt;c&lt;/u&gt;</th>"));
        QVERIFY(view.contains("&lt;script&gt;alert(1)&lt;/script&gt;"));
        QVERIFY(view.contains("&quot;&gt;&lt;img src=x&gt;"));
        for (const char* raw : {"<b>x</b>", "<i>t</i>", "<u>c</u>", "<script>alert", "<img"})
            QVERIFY2(!view.contains(raw), raw);

        const QByteArray list = m_http->get("/api/report.php", cookie).body;
        QVERIFY(list.contains("&lt;i&gt;t&lt;/i&gt;"));
        QVERIFY(!list.contains("<i>t</i>"));

        const QByteArray editor = m_http->get("/api/ReportQ.php", cookie).body;
        QVERIFY(editor.contains("SELECT '&lt;b&gt;s&lt;/b&gt;'"));
        QVERIFY(editor.contains("data-file=\"&quot; onmouseover=&quot;x\""));
        QVERIFY(!editor.contains("\" onmouseover=\"x"));
        QVERIFY(!editor.contains("<i>q</i>"));
    }

    void reportPages_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("firstRow");
        QTest::addColumn<bool>("hasNext");
        QTest::newRow("first") << "1" << 200 << 1 << true;
        QTest::newRow("none given") << "" << 200 << 1 << true;
        QTest::newRow("last, partial") << "3" << 50 << 401 << false;
        QTest::newRow("past the end") << "99" << 50 << 401 << false;
        QTest::newRow("not a number") << "x" << 200 << 1 << true;
    }

    void reportPages()
    {
        QFETCH(QString, page);
        QFETCH(int, rows);
        QFETCH(int, firstRow);
        QFETCH(bool, hasNext);
        const qint64 id = addReport(m_toko.id, documentWithRows(450));
        const QByteArray body =
            m_http
                ->get(QStringLiteral("/api/report.php?id=%1&page=%2").arg(id).arg(page),
                      signIn("Toko Maju", "key-toko"))
                .body;
        QCOMPARE(int(body.count("<td class=\"rownum\">")), rows);
        QVERIFY(body.contains(
            QStringLiteral("<td class=\"rownum\">%1</td><td>%1</td>").arg(firstRow).toUtf8()));
        QCOMPARE(body.contains("id=\"page-next\""), hasNext);
        QCOMPARE(body.contains("id=\"page-prev\""), firstRow > 1);
        QVERIFY(body.contains("id=\"report-rows\">450<"));
    }

    void otherCompanysReportIsNotFound()
    {
        const qint64 id = addReport(m_toko.id, documentWithRows(1));
        store().createCompany("Toko Lain", "DEV2", "", "", 0, "key-lain");
        const QByteArray cookie = signIn("Toko Lain", "key-lain");
        for (const QString suffix : {"", "&format=csv", "&format=json"}) {
            const HttpResult result =
                m_http->get(QStringLiteral("/api/report.php?id=%1").arg(id) + suffix, cookie);
            QCOMPARE(result.status, 404);
            QVERIFY(!result.body.contains("numbers"));
        }
        QVERIFY(m_http->get("/api/report.php", cookie).body.contains("id=\"no-reports\""));
    }

    void csv_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QByteArray>("field");
        QTest::newRow("plain") << "Ann" << QByteArray("Ann");
        QTest::newRow("empty") << "" << QByteArray("");
        QTest::newRow("comma") << "a,b" << QByteArray("\"a,b\"");
        QTest::newRow("quote") << "say \"hi\"" << QByteArray("\"say \"\"hi\"\"\"");
        QTest::newRow("line break") << "a\r\nb" << QByteArray("\"a\r\nb\"");
        QTest::newRow("non-ASCII") << "Café" << QString("Café").toUtf8();
    }

    void csv()
    {
        QFETCH(QString, value);
        QFETCH(QByteArray, field);
        const QByteArray doc =
            QJsonDocument(
                QJsonObject{{"header", QJsonArray{"id", "v,x"}},
                            {"data", QJsonArray{QJsonObject{{"id", "1"}, {"v,x", value}}}}})
                .toJson(QJsonDocument::Compact);
        QCOMPARE(ReportDocument::parse(doc)->toCsv(), "id,\"v,x\"\r\n1," + field + "\r\n");
    }

    void downloads()
    {
        const QByteArray doc = documentWithRows(3);
        const qint64 id = addReport(m_toko.id, doc, "T", "penjualan harian/2024");
        const QByteArray cookie = signIn("Toko Maju", "key-toko");

        const HttpResult csv =
            m_http->get(QStringLiteral("/api/report.php?id=%1&format=csv").arg(id), cookie);
        QCOMPARE(csv.status, 200);
        QCOMPARE(csv.header("Content-Type"), QByteArray("text/csv; charset=utf-8"));
        QCOMPARE(csv.header("Content-Disposition"),
                 QByteArray("attachment; filename=\"penjualan_harian_2024.csv\"; "
                            "filename*=UTF-8''penjualan%20harian%2F2024.csv"));
        QCOMPARE(csv.body, QByteArray("n\r\n1\r\n2\r\n3\r\n"));

        const HttpResult json =
            m_http->get(QStringLiteral("/api/report.php?id=%1&format=json").arg(id), cookie);
        QCOMPARE(json.body, doc);
        QVERIFY(json.header("Content-Disposition")
                    .startsWith("attachment; filename=\"penjualan_harian_2024.json\""));
        // Without a session nothing is handed out.
        QVERIFY(!m_http->get(QStringLiteral("/api/report.php?id=%1&format=json").arg(id))
                     .body.contains("\"data\""));
    }

    void queueAndDeleteInEditor()
    {
        const QByteArray cookie = signIn("Toko Maju", "key-toko");
        const HttpResult queued = m_http->post("/api/ReportQ.php",
                                               form({{"action", "queue"},
                                                     {"sql", "SELECT 'é'\r\nFROM t"},
                                                     {"file", " f "},
                                                     {"title", "Café"}}),
                                               {}, cookie);
        QCOMPARE(queued.status, 303);
        QList<TallyStore::Request> requests = store().requests(m_toko.id);
        QCOMPARE(requests.size(), 1);
        const qint64 urut = requests.at(0).urut;
        QCOMPARE(requests.at(0).sql, QString("SELECT 'é'\r\nFROM t"));
        QCOMPARE(requests.at(0).fileName, QString("f"));
        QCOMPARE(requests.at(0).title, QString("Café"));
        QVERIFY(
            m_http->get(queued.header("Location"), cookie).body.contains("id=\"queue-message\""));
        QVERIFY(m_http->get("/api/ReportQ.php", cookie)
                    .body.contains(QStringLiteral("id=\"delete-%1\"").arg(urut).toUtf8()));

        const qint64 done = store().queueRequest(m_toko.id, "SELECT 2", "g", "G");
        store().setRequestDone(done, true, false);
        for (const qint64 target : {urut, done})
            m_http->post("/api/ReportQ.php",
                         form({{"action", "delete"}, {"urut", QString::number(target)}}), {},
                         cookie);
        requests = store().requests(m_toko.id);
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests.at(0).urut, done);

        // A session cannot queue for another company, nor without a session at all.
        m_http->post("/api/ReportQ.php", form({{"action", "queue"}, {"sql", "x"}}));
        QCOMPARE(store().requests(m_toko.id).size(), 1);
    }

    void sitePages_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("type");
        QTest::addColumn<QByteArray>("marker");
        QTest::newRow("home") << "/" << QByteArray("text/html; charset=utf-8")
                              << QByteArray("id=\"site-title\"");
        QTest::newRow("developers") << "/developers" << QByteArray("text/html; charset=utf-8")
                                    << QByteArray("id=\"developers-title\"");
        QTest::newRow("support") << "/techsupport" << QByteArray("text/html; charset=utf-8")
                                 << QByteArray("id=\"support-title\"");
        QTest::newRow("style") << "/static/style.css" << QByteArray("text/css; charset=utf-8")
                               << QByteArray(":root");
        QTest::newRow("script") << "/static/app.js" << QByteArray("text/javascript; charset=utf-8")
                                << QByteArray("queue-sql");
    }

    void sitePages()
    {
        QFETCH(QString, path);
        QFETCH(QByteArray, type);
        QFETCH(QByteArray, marker);
        const HttpResult result = m_http->get(path);
        QCOMPARE(result.status, 200);
        QCOMPARE(result.header("Content-Type"), type);
        QVERIFY(result.body.contains(marker));
        QVERIFY(!result.body.contains("{{"));
        QVERIFY(!result.body.contains("http://") && !result.body.contains("https://"));
    }
};

QTEST_GUILESS_MAIN(TestServerWeb)
#include "tst_server_web.moc"
