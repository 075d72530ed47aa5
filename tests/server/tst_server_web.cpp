// The query editor and report viewer pages: login session, escaping of stored values, paging and
// downloads.
#include "HttpTestClient.h"
#include "ReportDocument.h"
#include "ReportView.h"
#include "TallyServer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QSignalSpy>
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

// The form token of a page, as a browser would send it back.
QByteArray formToken(const QByteArray& page)
{
    static const QRegularExpression field("name=\"csrf\" value=\"([0-9a-f]{64})\"");
    return field.match(QString::fromUtf8(page)).captured(1).toLatin1();
}

// "tf_login=..." out of the Set-Cookie headers of a login page.
QByteArray loginCookieOf(const HttpResult& page)
{
    for (const QByteArray& line : page.header("Set-Cookie").split('\n')) {
        if (line.startsWith("tf_login="))
            return line.split(';').value(0);
    }
    return {};
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

    // As a browser does it: the login page sets the form's cookie and token, the form is posted
    // with both. Returns the session cookie.
    QByteArray signIn(const QString& company, const QString& key, HttpResult* answer = nullptr,
                      const QString& path = "/api/ReportQ.php")
    {
        const HttpResult page = m_http->get(path);
        const HttpResult result = m_http->post(path,
                                               form({{"action", "login"},
                                                     {"company", company},
                                                     {"apikey", key},
                                                     {"csrf", formToken(page.body)}}),
                                               {}, loginCookieOf(page));
        if (answer)
            *answer = result;
        return result.sessionCookie();
    }

    // The session's form token, read from the editor page.
    QByteArray tokenOf(const QByteArray& cookie)
    {
        return formToken(m_http->get("/api/ReportQ.php", cookie).body);
    }

    HttpResult editorPost(const QByteArray& cookie, QList<std::pair<QString, QString>> fields)
    {
        fields.append({"csrf", QString::fromLatin1(tokenOf(cookie))});
        return m_http->post("/api/ReportQ.php", form(fields), {}, cookie);
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
        HttpResult login;
        signIn("toko maju", "key-toko", &login);
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
        HttpResult result;
        signIn(company, key, &result, "/api/report.php");
        QCOMPARE(result.status, 200);
        QVERIFY(result.body.contains("id=\"login-error\""));
        QVERIFY(!result.header("Set-Cookie").contains("tf_session"));
    }

    void failedLoginsAreThrottled()
    {
        for (int i = 0; i < 11; ++i) {
            HttpResult result;
            signIn("Toko Maju", QStringLiteral("guess-%1").arg(i), &result);
            QCOMPARE(result.status, 200);
        }
        // From now on even the right key waits until the minute is over.
        HttpResult result;
        QVERIFY(signIn("Toko Maju", "key-toko", &result).isEmpty());
        QCOMPARE(result.status, 429);
        QVERIFY(result.body.contains("Terlalu banyak percobaan"));
    }

    void logoutEndsSession()
    {
        const QByteArray cookie = signIn("Toko Maju", "key-toko");
        const HttpResult logout = editorPost(cookie, {{"action", "logout"}});
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
        QVERIFY(view.contains(">&lt;u&gt;c&lt;/u&gt;</a></th>"));
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
        QVERIFY(body.contains(QStringLiteral("<td class=\"rownum\">%1</td><td class=\"num\" "
                                             "data-v=\"%1\">%1</td>")
                                  .arg(firstRow)
                                  .toUtf8()));
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
        // Spreadsheets run cells that begin like a formula.
        QTest::newRow("formula") << "=HYPERLINK(\"x\")" << QByteArray("\"'=HYPERLINK(\"\"x\"\")\"");
        QTest::newRow("plus") << "+1+2" << QByteArray("'+1+2");
        QTest::newRow("minus") << "-2+3" << QByteArray("'-2+3");
        QTest::newRow("at") << "@SUM(A1)" << QByteArray("'@SUM(A1)");
        QTest::newRow("tab") << "\t=1" << QByteArray("'\t=1");
        QTest::newRow("negative number stays a number") << "-12.5" << QByteArray("-12.5");
        QTest::newRow("signed number stays a number") << "+62" << QByteArray("+62");
        QTest::newRow("formula sign inside") << "a=b" << QByteArray("a=b");
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
        // UTF-8 with a byte-order mark, for Excel on Windows.
        QCOMPARE(ReportDocument::parse(doc)->toCsv(),
                 "\xEF\xBB\xBFid,\"v,x\"\r\n1," + field + "\r\n");
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
        QCOMPARE(csv.body, QByteArray("\xEF\xBB\xBFn\r\n1\r\n2\r\n3\r\n"));

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
        const HttpResult queued = editorPost(cookie, {{"action", "queue"},
                                                      {"sql", "SELECT 'é'\r\nFROM t"},
                                                      {"file", " f "},
                                                      {"title", "Café"}});
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
            editorPost(cookie, {{"action", "delete"}, {"urut", QString::number(target)}});
        requests = store().requests(m_toko.id);
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests.at(0).urut, done);

        // A session cannot queue for another company, nor without a session at all.
        m_http->post("/api/ReportQ.php", form({{"action", "queue"}, {"sql", "x"}}));
        QCOMPARE(store().requests(m_toko.id).size(), 1);
    }

    void foreignPostsRefused_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("token");     // SESSION: the session's, LOGIN: the login page's
        QTest::addColumn<QByteArray>("origin"); // sent as Origin, or Referer when it has a path
        QTest::addColumn<bool>("accepted");
        QTest::newRow("queue, right token") << "queue"
                                            << "SESSION" << QByteArray() << true;
        QTest::newRow("queue, same origin") << "queue"
                                            << "SESSION" << QByteArray("SELF") << true;
        QTest::newRow("queue, no token") << "queue"
                                         << "" << QByteArray() << false;
        QTest::newRow("queue, wrong token")
            << "queue" << QString(64, QChar('a')) << QByteArray() << false;
        QTest::newRow("queue, login token") << "queue"
                                            << "LOGIN" << QByteArray() << false;
        QTest::newRow("queue, other origin")
            << "queue"
            << "SESSION" << QByteArray("http://evil.example") << false;
        QTest::newRow("queue, other referer")
            << "queue"
            << "SESSION" << QByteArray("http://evil.example/page") << false;
        QTest::newRow("delete, no token") << "delete"
                                          << "" << QByteArray() << false;
        QTest::newRow("logout, no token") << "logout"
                                          << "" << QByteArray() << false;
        QTest::newRow("login, no token") << "login"
                                         << "" << QByteArray() << false;
        QTest::newRow("login, token without its cookie")
            << "login"
            << "LOGIN-NO-COOKIE" << QByteArray() << false;
        QTest::newRow("login, other origin")
            << "login"
            << "LOGIN" << QByteArray("http://evil.example") << false;
        QTest::newRow("login, login token") << "login"
                                            << "LOGIN" << QByteArray() << true;
    }

    void foreignPostsRefused()
    {
        QFETCH(QString, action);
        QFETCH(QString, token);
        QFETCH(QByteArray, origin);
        QFETCH(bool, accepted);
        const QByteArray session = signIn("Toko Maju", "key-toko");
        const qint64 pending = store().queueRequest(m_toko.id, "SELECT 1", "f", "t");
        const HttpResult loginPage = m_http->get("/api/report.php");
        QByteArray cookie = session;
        if (token == "SESSION")
            token = QString::fromLatin1(tokenOf(session));
        if (token.startsWith("LOGIN")) {
            if (token == "LOGIN")
                cookie += "; " + loginCookieOf(loginPage);
            token = QString::fromLatin1(formToken(loginPage.body));
        }
        if (origin == "SELF")
            origin = m_server->baseUrl().toUtf8();
        QNetworkAccessManager manager;
        QNetworkRequest request(QUrl(m_server->baseUrl() + "/api/ReportQ.php"));
        request.setHeader(QNetworkRequest::ContentTypeHeader, "application/x-www-form-urlencoded");
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                             QNetworkRequest::ManualRedirectPolicy);
        request.setRawHeader("Cookie", cookie);
        if (!origin.isEmpty())
            request.setRawHeader(origin.count('/') > 2 ? "Referer" : "Origin", origin);
        const QByteArray body = form({{"action", action},
                                      {"sql", "SELECT 2"},
                                      {"file", "g"},
                                      {"urut", QString::number(pending)},
                                      {"company", "Toko Maju"},
                                      {"apikey", "key-toko"},
                                      {"csrf", token}});
        QNetworkReply* reply = manager.post(request, body);
        QSignalSpy finished(reply, &QNetworkReply::finished);
        QVERIFY(finished.wait(5000));
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        const QByteArray answer = reply->readAll();
        delete reply;
        QCOMPARE(status, accepted ? 303 : 403);
        if (!accepted)
            QVERIFY(answer.contains("Permintaan ditolak"));
        // Nothing changed unless accepted: no request queued or deleted, the session alive.
        const int requests = store().requests(m_toko.id).size();
        QCOMPARE(requests, accepted && action == "queue" ? 2 : 1);
        QVERIFY(m_http->get("/api/ReportQ.php", session).body.contains("id=\"queue-form\""));
    }

    void sessionCookieSecureOverTls()
    {
        for (const bool tls : {false, true}) {
            const HttpResult page = m_http->get("/api/ReportQ.php");
            QNetworkAccessManager manager;
            QNetworkRequest request(QUrl(m_server->baseUrl() + "/api/ReportQ.php"));
            request.setHeader(QNetworkRequest::ContentTypeHeader,
                              "application/x-www-form-urlencoded");
            request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                                 QNetworkRequest::ManualRedirectPolicy);
            request.setRawHeader("Cookie", loginCookieOf(page));
            if (tls) {
                // A proxy on this machine took the request over TLS.
                request.setRawHeader("X-Forwarded-Proto", "https");
                request.setRawHeader("Origin",
                                     "https://" + QUrl(m_server->baseUrl()).authority().toUtf8());
            }
            QNetworkReply* reply =
                manager.post(request, form({{"action", "login"},
                                            {"company", "Toko Maju"},
                                            {"apikey", "key-toko"},
                                            {"csrf", QString::fromLatin1(formToken(page.body))}}));
            QSignalSpy finished(reply, &QNetworkReply::finished);
            QVERIFY(finished.wait(5000));
            QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 303);
            const QByteArray setCookie = reply->rawHeader("Set-Cookie");
            delete reply;
            QVERIFY(setCookie.startsWith("tf_session="));
            QCOMPARE(setCookie.split('\n').value(0).contains("; Secure"), tls);
        }
    }

    void emptyRequestRefused_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("file");
        QTest::newRow("empty SQL") << ""
                                   << "f";
        QTest::newRow("blank SQL") << " \r\n\t"
                                   << "f";
        QTest::newRow("empty file name") << "SELECT 1"
                                         << "";
        QTest::newRow("blank file name") << "SELECT 1"
                                         << "   ";
    }

    void emptyRequestRefused()
    {
        QFETCH(QString, sql);
        QFETCH(QString, file);
        const QByteArray cookie = signIn("Toko Maju", "key-toko");
        const HttpResult result =
            editorPost(cookie, {{"action", "queue"}, {"sql", sql}, {"file", file}, {"title", "T"}});
        QCOMPARE(result.status, 303);
        QVERIFY(store().requests(m_toko.id).isEmpty());
        const QByteArray page = m_http->get(result.header("Location"), cookie).body;
        QVERIFY(page.contains("SQL dan nama file harus diisi"));
        QVERIFY(page.contains("notice error"));
    }

    void requestStates()
    {
        const qint64 pending = store().queueRequest(m_toko.id, "SELECT 1", "a", "A");
        const qint64 reported = store().queueRequest(m_toko.id, "SELECT 2", "b", "B");
        const qint64 failed = store().queueRequest(m_toko.id, "SELECT x", "c", "C");
        store().setRequestDone(reported, true, true);
        store().setRequestDone(failed, true, true);
        TallyStore::Report info;
        info.companyId = m_toko.id;
        info.urut = reported;
        info.fileName = "b";
        const qint64 reportId = store().addReport(info, documentWithRows(1));
        const QByteArray page =
            m_http->get("/api/ReportQ.php", signIn("Toko Maju", "key-toko")).body;
        const auto row = [&page](qint64 urut) {
            const qsizetype at = page.indexOf("id=\"request-" + QByteArray::number(urut) + "\"");
            return page.mid(at, page.indexOf("</tr>", at) - at);
        };
        QVERIFY(row(pending).contains("<span class=\"badge pending\">pending</span>"));
        QVERIFY(row(reported).contains(
            QStringLiteral("href=\"/api/report.php?id=%1\">done</a>").arg(reportId).toUtf8()));
        QVERIFY(row(failed).contains("ended without a report (see the agent's status line)"));
        QVERIFY(!row(failed).contains(">done<"));
        // Something waits, so the page keeps its list fresh.
        QVERIFY(page.contains("id=\"requests-box\" data-pending=\"1\""));
    }

    void agentLastSeen()
    {
        const QByteArray cookie = signIn("Toko Maju", "key-toko");
        QVERIFY(m_http->get("/api/ReportQ.php", cookie)
                    .body.contains("agent not seen since the service started"));
        QCOMPARE(m_http->get("/api/get_rs_req.php?companyName=Toko%20Maju").body, "nothing");
        const QByteArray page = m_http->get("/api/ReportQ.php", cookie).body;
        QVERIFY2(QRegularExpression("<p id=\"agent-status\" class=\"agent online\" "
                                    "data-seconds=\"[0-2]\">agent last seen [0-2] s ago</p>")
                     .match(QString::fromUtf8(page))
                     .hasMatch(),
                 page.mid(page.indexOf("agent-status") - 10, 160));
        // Another company's agent says nothing about this one.
        const auto other = store().createCompany("Toko Lain", "DEV2", "", "", 0, "key-lain");
        QVERIFY(m_http->get("/api/ReportQ.php", signIn("Toko Lain", "key-lain"))
                    .body.contains("agent not seen since the service started"));
        QVERIFY(other.id != 0);
    }

    void savedQueries()
    {
        const QByteArray cookie = signIn("Toko Maju", "key-toko");
        HttpResult result = editorPost(cookie, {{"action", "save"},
                                                {"name", "Omzet"},
                                                {"sql", "SELECT 1"},
                                                {"file", "omzet"},
                                                {"title", "Omzet"}});
        QCOMPARE(result.header("Location"), QByteArray("/api/ReportQ.php?saved=1"));
        // The same name again replaces the query.
        editorPost(cookie, {{"action", "save"},
                            {"name", "Omzet"},
                            {"sql", "SELECT 2"},
                            {"file", "omzet"},
                            {"title", "Omzet baru"}});
        // A query without a name or without a file name is not kept.
        result = editorPost(
            cookie, {{"action", "save"}, {"name", " "}, {"sql", "SELECT 3"}, {"file", "x"}});
        QCOMPARE(result.header("Location"), QByteArray("/api/ReportQ.php?unnamed=1"));
        editorPost(cookie, {{"action", "save"}, {"name", "N"}, {"sql", "SELECT 3"}, {"file", ""}});
        const QList<TallyStore::SavedQuery> saved = store().savedQueries(m_toko.id);
        QCOMPARE(saved.size(), 1);
        QCOMPARE(saved.at(0).sql, QString("SELECT 2"));
        const QString id = QString::number(saved.at(0).id);
        QVERIFY(m_http->get("/api/ReportQ.php", cookie)
                    .body.contains(("id=\"run-" + id + "\"").toUtf8()));

        // One click queues it.
        result = editorPost(cookie, {{"action", "run"}, {"id", id}});
        QVERIFY(result.header("Location").startsWith("/api/ReportQ.php?queued="));
        const QList<TallyStore::Request> requests = store().requests(m_toko.id);
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests.at(0).sql, QString("SELECT 2"));
        QCOMPARE(requests.at(0).title, QString("Omzet baru"));

        // Another company can neither run nor delete it.
        store().createCompany("Toko Lain", "DEV2", "", "", 0, "key-lain");
        const QByteArray other = signIn("Toko Lain", "key-lain");
        editorPost(other, {{"action", "run"}, {"id", id}});
        editorPost(other, {{"action", "unsave"}, {"id", id}});
        QCOMPARE(store().requests(m_toko.id).size(), 1);
        QCOMPARE(store().savedQueries(m_toko.id).size(), 1);
        editorPost(cookie, {{"action", "unsave"}, {"id", id}});
        QVERIFY(store().savedQueries(m_toko.id).isEmpty());
    }

    void readableValues_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("number");
        QTest::addColumn<QString>("shown");
        QTest::newRow("thousands") << "1234567" << true << "1.234.567";
        QTest::newRow("small") << "999" << true << "999";
        QTest::newRow("decimal point") << "1234.5" << true << "1.234,5";
        QTest::newRow("decimal comma") << "1234,50" << true << "1.234,50";
        QTest::newRow("negative") << "-1000" << true << "-1.000";
        QTest::newRow("zero") << "0" << true << "0";
        QTest::newRow("leading zero is a code") << "0812" << false << "0812";
        QTest::newRow("telephone") << "0813-9022-4410" << false << "0813-9022-4410";
        QTest::newRow("two separators") << "1.234.567" << false << "1.234.567";
        QTest::newRow("exponent") << "1E+20" << false << "1E+20";
        QTest::newRow("empty") << "" << false << "";
    }

    void readableValues()
    {
        QFETCH(QString, value);
        QFETCH(bool, number);
        QFETCH(QString, shown);
        QCOMPARE(ReportView::isPlainNumber(value), number);
        QCOMPARE(ReportView::numberText(value), shown);
    }

    void readableDates_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("shown");
        QTest::newRow("date") << "2026-12-07"
                              << "7 Des 2026";
        QTest::newRow("date and time") << "2026-12-07 10:15:00"
                                       << "7 Des 2026 10.15";
        QTest::newRow("with seconds") << "2026-03-01T08:05:09"
                                      << "1 Mar 2026 08.05.09";
        QTest::newRow("not a day") << "2026-02-30"
                                   << "";
        QTest::newRow("other layout") << "07/12/2026"
                                      << "";
    }

    void readableDates()
    {
        QFETCH(QString, value);
        QFETCH(QString, shown);
        QCOMPARE(ReportView::dateText(value), shown);
    }

    void viewerSortsAndSearches_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QStringList>("names"); // the name column, top to bottom
        QTest::newRow("as received") << "" << QStringList{"Ani", "budi", "Cici", "Dodi"};
        QTest::newRow("number, ascending, empty last")
            << "&sort=1&dir=asc" << QStringList{"Cici", "Ani", "budi", "Dodi"};
        QTest::newRow("number, descending, empty last")
            << "&sort=1&dir=desc" << QStringList{"budi", "Ani", "Cici", "Dodi"};
        QTest::newRow("text ignores case")
            << "&sort=0&dir=desc" << QStringList{"Dodi", "Cici", "budi", "Ani"};
        QTest::newRow("date") << "&sort=2&dir=asc" << QStringList{"Dodi", "Cici", "Ani", "budi"};
        QTest::newRow("search any column, any case") << "&q=SOLO" << QStringList{"budi", "Dodi"};
        QTest::newRow("search with a blank, as a form sends it")
            << "&q=kota+SOLO" << QStringList{"budi"};
        QTest::newRow("search for a plus") << "&q=%2B" << QStringList{};
        QTest::newRow("search and sort")
            << "&q=solo&sort=1&dir=desc" << QStringList{"budi", "Dodi"};
        QTest::newRow("column out of range")
            << "&sort=9" << QStringList{"Ani", "budi", "Cici", "Dodi"};
    }

    void viewerSortsAndSearches()
    {
        QFETCH(QString, query);
        QFETCH(QStringList, names);
        const auto row = [](const char* name, const char* amount, const char* day,
                            const char* city) {
            return QJsonObject{
                {"nama", name}, {"jumlah", amount}, {"tanggal", day}, {"kota", city}};
        };
        const QByteArray doc =
            QJsonDocument(
                QJsonObject{
                    {"header", QJsonArray{"nama", "jumlah", "tanggal", "kota"}},
                    {"data", QJsonArray{row("Ani", "1500", "2026-03-02", "Semarang"),
                                        row("budi", "250000.5", "2026-05-01", "Kota Solo"),
                                        row("Cici", "20", "2026-01-15", "Semarang"),
                                        row("Dodi", "", "2025-12-31", "solo")}},
                })
                .toJson(QJsonDocument::Compact);
        const qint64 id = addReport(m_toko.id, doc);
        const QByteArray page = m_http
                                    ->get(QStringLiteral("/api/report.php?id=%1").arg(id) + query,
                                          signIn("Toko Maju", "key-toko"))
                                    .body;
        static const QRegularExpression firstCell(
            "<tr><td class=\"rownum\">\\d+</td><td>([^<]*)</td>");
        QStringList shown;
        for (auto it = firstCell.globalMatch(QString::fromUtf8(page)); it.hasNext();)
            shown << it.next().captured(1);
        QCOMPARE(shown, names);
        // Numbers right-aligned in Indonesian, dates readable, and the raw value kept.
        if (query.isEmpty()) {
            QVERIFY(page.contains("<td class=\"num\" data-v=\"250000.5\">250.000,5</td>"));
            QVERIFY(page.contains("<td class=\"date\" title=\"2026-05-01\">1 Mei 2026</td>"));
            QVERIFY(page.contains("<th class=\"num\" data-kind=\"number\">"));
        }
        // Paging links keep the search and the sort.
        if (query.contains("q=solo"))
            QVERIFY(page.contains("id=\"search-count\""));
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
