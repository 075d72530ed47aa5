// Query editor, report viewer and product pages.
#include "WebApp.h"

#include "FormFields.h"

#include <QFile>
#include <QHttpServerRequest>
#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QUrl>
#include <QUrlQuery>
#include <chrono>

Q_DECLARE_LOGGING_CATEGORY(lcServer)

namespace {

using Method = QHttpServerRequest::Method;

constexpr auto sessionLifetime = std::chrono::hours(12);
const QString editorPath = QStringLiteral("/api/ReportQ.php");
const QString viewerPath = QStringLiteral("/api/report.php");

QString h(const QString& text)
{
    return text.toHtmlEscaped();
}

QString timeText(const QDateTime& time)
{
    return time.isValid() ? time.toLocalTime().toString("yyyy-MM-dd HH:mm:ss") : QString();
}

QString resourceText(const QString& name)
{
    static QHash<QString, QString> cache;
    auto it = cache.find(name);
    if (it == cache.end()) {
        QFile file(":/web/" + name);
        if (!file.open(QIODevice::ReadOnly))
            qCWarning(lcServer).noquote() << "missing page resource" << name;
        it = cache.insert(name, QString::fromUtf8(file.readAll()));
    }
    return *it;
}

// Fills {{NAME}} markers in one pass, so that text inside an inserted value is never taken for a
// marker. Values are HTML already: the callers escape every stored value.
QString fill(const QString& templateName, const QHash<QString, QString>& values)
{
    static const QRegularExpression marker(QStringLiteral("\\{\\{([A-Z_]+)\\}\\}"));
    const QString source = resourceText(templateName);
    QString out;
    out.reserve(source.size());
    qsizetype at = 0;
    for (auto it = marker.globalMatch(source); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        out += QStringView(source).mid(at, match.capturedStart() - at);
        out += values.value(match.captured(1));
        at = match.capturedEnd();
    }
    out += QStringView(source).mid(at);
    return out;
}

QByteArray headerValue(const QHttpServerRequest& request, const QByteArray& name)
{
    for (const auto& [key, value] : request.headers()) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

QByteArray cookieValue(const QHttpServerRequest& request, const QByteArray& name)
{
    for (const auto& [key, value] : request.headers()) {
        if (key.compare("cookie", Qt::CaseInsensitive) != 0)
            continue;
        for (const QByteArray& part : value.split(';')) {
            const QByteArray cookie = part.trimmed();
            if (cookie.startsWith(name + '='))
                return cookie.mid(name.size() + 1);
        }
    }
    return {};
}

QByteArray randomToken()
{
    QByteArray bytes(32, Qt::Uninitialized);
    for (char& byte : bytes)
        byte = char(QRandomGenerator::system()->bounded(256));
    return bytes.toHex();
}

// Over TLS of its own, or behind a local proxy that says it took the request over TLS.
bool overTls(const QHttpServerRequest& request)
{
    return request.url().scheme() == QLatin1String("https") ||
           (request.remoteAddress().isLoopback() &&
            headerValue(request, "X-Forwarded-Proto").trimmed().toLower() == "https");
}

// Browsers name the page a POST came from in Origin (and Referer, which the pages allow for their
// own origin only). Clients that send neither still need the form's token.
bool sameOrigin(const QHttpServerRequest& request)
{
    const QByteArray own =
        (overTls(request) ? "https://" : "http://") + headerValue(request, "Host");
    const QByteArray origin = headerValue(request, "Origin");
    if (!origin.isEmpty())
        return origin == own;
    const QByteArray referer = headerValue(request, "Referer");
    return referer.isEmpty() || referer == own || referer.startsWith(own + '/');
}

bool sameToken(const QByteArray& sent, const QByteArray& expected)
{
    if (expected.isEmpty() || sent.size() != expected.size())
        return false;
    char difference = 0;
    for (qsizetype i = 0; i < sent.size(); ++i)
        difference |= char(sent[i] ^ expected[i]);
    return difference == 0;
}

QByteArray cookieHeader(const QHttpServerRequest& request, const char* name,
                        const QByteArray& value, const char* sameSite)
{
    QByteArray header = QByteArray(name) + '=' + value + "; Path=/; HttpOnly; SameSite=" + sameSite;
    if (overTls(request))
        header += "; Secure";
    if (value.isEmpty())
        header += "; Max-Age=0";
    return header;
}

QString csrfField(const QByteArray& token)
{
    return QStringLiteral("<input type=\"hidden\" name=\"csrf\" value=\"%1\">")
        .arg(QString::fromLatin1(token));
}

// attachment; filename="plain_ascii.csv"; filename*=UTF-8''the%20real%20name.csv
QByteArray attachmentHeader(const QString& fileName, qint64 reportId, const QString& extension)
{
    QString base = fileName.trimmed();
    if (base.endsWith('.' + extension, Qt::CaseInsensitive))
        base.chop(extension.size() + 1);
    if (base.isEmpty())
        base = QStringLiteral("report-%1").arg(reportId);
    QString ascii;
    for (const QChar ch : base) {
        const bool plain =
            (ch.unicode() < 128 && ch.isLetterOrNumber()) || ch == '-' || ch == '_' || ch == '.';
        ascii += plain ? ch : QChar('_');
    }
    const QString full = base + '.' + extension;
    return "attachment; filename=\"" + ascii.toLatin1() + '.' + extension.toLatin1() +
           "\"; filename*=UTF-8''" + QUrl::toPercentEncoding(full);
}

QString notice(const QString& id, const QString& kind, const QString& text)
{
    return QStringLiteral("<p id=\"%1\" class=\"notice %2\">%3</p>").arg(id, kind, h(text));
}

QString postForm(const QString& id, const QString& action, const QByteArray& csrf,
                 const QList<std::pair<QString, QString>>& fields, const QString& label,
                 const QString& buttonClass, const QString& formClass)
{
    QString form = QStringLiteral("<form class=\"inline %1\" method=\"post\" action=\"%2\">")
                       .arg(formClass, editorPath) +
                   csrfField(csrf);
    form += QStringLiteral("<input type=\"hidden\" name=\"action\" value=\"%1\">").arg(action);
    for (const auto& [name, value] : fields)
        form +=
            QStringLiteral("<input type=\"hidden\" name=\"%1\" value=\"%2\">").arg(name, h(value));
    form += QStringLiteral("<button type=\"submit\" id=\"%1\" class=\"%2\">%3</button></form>")
                .arg(id, buttonClass, h(label));
    return form;
}

} // namespace

WebApp::WebApp(TallyStore& store) : m_store(store) {}

void WebApp::notePoll(qint64 companyId)
{
    m_lastPoll.insert(companyId, QDateTime::currentDateTimeUtc());
}

QString WebApp::layout(const QString& title, const QString& content,
                       const std::optional<SignedIn>& session) const
{
    const QString sessionHtml =
        session ? fill("session.html",
                       {{"COMPANY", h(session->company.name)}, {"CSRF", csrfField(session->csrf)}})
                : QString();
    return fill("layout.html",
                {{"TITLE", h(title)}, {"CONTENT", content}, {"SESSION", sessionHtml}});
}

std::optional<WebApp::SignedIn> WebApp::signedIn(const QHttpServerRequest& request)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (auto it = m_sessions.begin(); it != m_sessions.end();) {
        if (it->lastSeen.addSecs(std::chrono::seconds(sessionLifetime).count()) < now)
            it = m_sessions.erase(it);
        else
            ++it;
    }
    const QByteArray token = cookieValue(request, sessionCookie);
    auto session = token.isEmpty() ? m_sessions.end() : m_sessions.find(token);
    if (session == m_sessions.end())
        return std::nullopt;
    const auto company = m_store.companyById(session->companyId);
    if (!company)
        return std::nullopt;
    session->lastSeen = now;
    return SignedIn{*company, session->csrf};
}

std::optional<HttpReply> WebApp::refuseForeignPost(const QHttpServerRequest& request,
                                                   const FormFields& form,
                                                   const std::optional<SignedIn>& session) const
{
    const bool isLogin = form.value("action") == QLatin1String("login");
    const QByteArray expected = isLogin   ? cookieValue(request, loginCookie)
                                : session ? session->csrf
                                          : QByteArray();
    if (sameOrigin(request) && sameToken(form.value("csrf").toLatin1(), expected))
        return std::nullopt;
    qCWarning(lcServer).noquote() << "refused a" << form.value("action") << "POST from"
                                  << request.remoteAddress().toString() << "without a valid"
                                  << (sameOrigin(request) ? "form token" : "origin");
    const QString content =
        fill("message.html",
             {{"HEADING", "Permintaan ditolak"},
              {"MESSAGE", h("Formulir ini tidak berlaku lagi atau datang dari situs lain. "
                            "Muat ulang halaman, lalu coba lagi.")},
              {"BACK", h(request.url().path())}});
    return HttpReply::html(layout("Permintaan ditolak", content, std::nullopt), 403);
}

HttpReply WebApp::login(const QHttpServerRequest& request, const FormFields& form, const Page& page)
{
    const QString address = request.remoteAddress().toString();
    if (m_loginThrottle.isBlocked(address))
        return loginPage(request, page, "Terlalu banyak percobaan yang gagal. Coba lagi nanti.",
                         429);
    auto company = m_store.companyByName(form.value("company"));
    if (!company)
        company = m_store.companyByName(form.value("company").trimmed());
    const QString apiKey = form.value("apikey").trimmed();
    if (!company || apiKey.isEmpty() || company->apiKey != apiKey) {
        if (m_loginThrottle.recordFailure(address))
            qCWarning(lcServer).noquote() << "failed web logins from" << address << "are throttled";
        return loginPage(request, page, "Nama usaha atau API key salah.");
    }
    const QByteArray token = randomToken();
    m_sessions.insert(token, {company->id, QDateTime::currentDateTimeUtc(), randomToken()});
    qCInfo(lcServer).noquote() << "web login of" << company->name;
    return HttpReply::redirect(page.path.toUtf8())
        .withHeader("Set-Cookie", cookieHeader(request, sessionCookie, token, "Lax"));
}

HttpReply WebApp::logout(const QHttpServerRequest& request)
{
    m_sessions.remove(cookieValue(request, sessionCookie));
    return HttpReply::redirect(editorPath.toUtf8())
        .withHeader("Set-Cookie", cookieHeader(request, sessionCookie, {}, "Lax"));
}

HttpReply WebApp::loginPage(const QHttpServerRequest& request, const Page& page,
                            const QString& error, int status)
{
    // The login form's token lives in a cookie of its own until there is a session.
    QByteArray token = cookieValue(request, loginCookie);
    const bool fresh = token.size() != 64;
    if (fresh)
        token = randomToken();
    const QString content =
        fill("login.html",
             {{"HEADING", h(page.heading)},
              {"ACTION", h(page.path)},
              {"CSRF", csrfField(token)},
              {"ERROR", error.isEmpty() ? QString() : notice("login-error", "error", error)}});
    HttpReply reply = HttpReply::html(layout(page.heading, content, std::nullopt), status);
    if (fresh)
        reply.withHeader("Set-Cookie", cookieHeader(request, loginCookie, token, "Strict"));
    return reply;
}

HttpReply WebApp::editorPage(const QHttpServerRequest& request)
{
    const Page page{editorPath, "Editor Queries"};
    const auto session = signedIn(request);
    if (request.method() == Method::Post) {
        const FormFields form = FormFields::parse(request.body(), FormFields::Charset::Utf8);
        const QString action = form.value("action");
        // Signing out of a session that has ended already changes nothing.
        if (action == QLatin1String("logout") && !session)
            return logout(request);
        if (auto refusal = refuseForeignPost(request, form, session))
            return *refusal;
        if (action == QLatin1String("login"))
            return login(request, form, page);
        if (action == QLatin1String("logout"))
            return logout(request);
        if (!session)
            return loginPage(request, page, {});
        return editorAction(*session, form);
    }
    if (!session)
        return loginPage(request, page, {});

    const QUrlQuery query = request.query();
    const auto number = [&query](const char* key) {
        return query.queryItemValue(key).toLongLong();
    };
    QString message;
    if (number("queued") > 0)
        message = notice("queue-message", "ok",
                         QStringLiteral("Permintaan %1 masuk antrean.").arg(number("queued")));
    else if (number("deleted") > 0)
        message = notice("queue-message", "ok",
                         QStringLiteral("Permintaan %1 dihapus.").arg(number("deleted")));
    else if (number("kept") > 0)
        message =
            notice("queue-message", "error",
                   QStringLiteral("Permintaan %1 tidak dihapus: sudah selesai atau tidak ada.")
                       .arg(number("kept")));
    else if (query.hasQueryItem("empty"))
        message = notice("queue-message", "error",
                         "Permintaan tidak dikirim: SQL dan nama file harus diisi.");
    else if (query.hasQueryItem("saved"))
        message = notice("queue-message", "ok", "Query disimpan.");
    else if (query.hasQueryItem("unnamed"))
        message =
            notice("queue-message", "error", "Query tidak disimpan: beri nama, SQL dan nama file.");
    else if (query.hasQueryItem("unsaved"))
        message = notice("queue-message", "ok", "Query simpanan dihapus.");
    else if (query.hasQueryItem("failed"))
        message = notice("queue-message", "error", "Permintaan tidak tersimpan.");

    const QString content = fill("editor.html", {{"COMPANY", h(session->company.name)},
                                                 {"CSRF", csrfField(session->csrf)},
                                                 {"AGENT", agentStatus(session->company.id)},
                                                 {"MESSAGE", message},
                                                 {"SAVED", savedQueryTable(*session)},
                                                 {"REQUESTS", requestTable(*session)}});
    return HttpReply::html(layout("Editor Queries", content, session));
}

HttpReply WebApp::editorAction(const SignedIn& session, const FormFields& form)
{
    const qint64 companyId = session.company.id;
    const QString action = form.value("action");
    const auto redirect = [](const QString& query) {
        return HttpReply::redirect((editorPath + '?' + query).toUtf8());
    };
    // Changes answer with a redirect, so that reloading the page never sends them twice.
    if (action == QLatin1String("queue") || action == QLatin1String("run")) {
        QString sql = form.value("sql"), file = form.value("file").trimmed(),
                title = form.value("title").trimmed();
        if (action == QLatin1String("run")) {
            const auto saved = m_store.savedQuery(companyId, form.value("id").toLongLong());
            if (!saved)
                return redirect("failed=1");
            sql = saved->sql, file = saved->fileName, title = saved->title;
        }
        // An empty SQL or file name would have the agent ask its user on every poll.
        if (sql.trimmed().isEmpty() || file.isEmpty())
            return redirect("empty=1");
        const qint64 urut = m_store.queueRequest(companyId, sql, file, title);
        return redirect(urut ? QStringLiteral("queued=%1").arg(urut) : "failed=1");
    }
    if (action == QLatin1String("save")) {
        TallyStore::SavedQuery saved;
        saved.companyId = companyId;
        saved.name = form.value("name").trimmed();
        saved.sql = form.value("sql");
        saved.fileName = form.value("file").trimmed();
        saved.title = form.value("title").trimmed();
        if (saved.name.isEmpty() || saved.sql.trimmed().isEmpty() || saved.fileName.isEmpty())
            return redirect("unnamed=1");
        return redirect(m_store.saveQuery(saved) ? "saved=1" : "failed=1");
    }
    if (action == QLatin1String("unsave")) {
        m_store.deleteSavedQuery(companyId, form.value("id").toLongLong());
        return redirect("unsaved=1");
    }
    if (action == QLatin1String("delete")) {
        bool isNumber = false;
        const qint64 urut = form.value("urut").toLongLong(&isNumber);
        const bool deleted = isNumber && m_store.deletePendingRequest(companyId, urut);
        return redirect(QString(deleted ? "deleted=%1" : "kept=%1").arg(urut));
    }
    return HttpReply::redirect(editorPath.toUtf8());
}

QString WebApp::agentStatus(qint64 companyId) const
{
    const auto seen = m_lastPoll.constFind(companyId);
    if (seen == m_lastPoll.cend())
        return QStringLiteral("<p id=\"agent-status\" class=\"agent offline\">agent not seen "
                              "since the service started</p>");
    const qint64 seconds = seen->secsTo(QDateTime::currentDateTimeUtc());
    const QString ago = seconds < 120    ? QStringLiteral("%1 s").arg(seconds)
                        : seconds < 7200 ? QStringLiteral("%1 min").arg(seconds / 60)
                                         : QStringLiteral("%1 h").arg(seconds / 3600);
    // The agent polls twice a second; a few seconds of silence is a busy agent, not a gone one.
    return QStringLiteral("<p id=\"agent-status\" class=\"agent %1\" data-seconds=\"%2\">agent "
                          "last seen %3 ago</p>")
        .arg(seconds < 15 ? "online" : "offline")
        .arg(seconds)
        .arg(ago);
}

QString WebApp::requestTable(const SignedIn& session) const
{
    const TallyStore::Company& company = session.company;
    const QList<TallyStore::Request> requests = m_store.requests(company.id);
    if (requests.isEmpty())
        return "<p id=\"no-requests\" class=\"muted\">Belum ada permintaan.</p>";
    const QHash<qint64, qint64> reports = m_store.latestReportByUrut(company.id);
    bool pending = false;
    QString table = "<div class=\"table-wrap\"><table id=\"requests\"><thead><tr><th>Urut</th>"
                    "<th>Nama file</th><th>Judul</th><th>SQL</th><th>Status</th><th>Diambil</th>"
                    "<th>Dibuat</th><th></th></tr></thead><tbody>\n";
    for (const TallyStore::Request& r : requests) {
        const QString urut = QString::number(r.urut);
        QString actions =
            QStringLiteral("<button type=\"button\" id=\"reuse-%1\" class=\"reuse link\" "
                           "data-sql=\"%2\" data-file=\"%3\" data-title=\"%4\">Pakai "
                           "lagi</button>")
                .arg(urut, h(r.sql), h(r.fileName), h(r.title));
        QString state;
        if (!r.done) {
            pending = true;
            state = "<span class=\"badge pending\">pending</span>";
            actions += ' ' + postForm("delete-" + urut, "delete", session.csrf, {{"urut", urut}},
                                      "Hapus", "danger", "delete-form")
                                 .replace("<form ", "<form data-urut=\"" + urut + "\" ");
        } else if (reports.contains(r.urut)) {
            state = QStringLiteral("<a id=\"report-of-%1\" class=\"badge done\" "
                                   "href=\"%2?id=%3\">done</a>")
                        .arg(urut, viewerPath)
                        .arg(reports.value(r.urut));
        } else {
            state = "<span class=\"badge failed\">ended without a report (see the agent's status "
                    "line)</span>";
        }
        table += QStringLiteral("<tr id=\"request-%1\"><td class=\"col-urut\">%1</td>"
                                "<td class=\"col-file\">%2</td><td class=\"col-title\">%3</td>"
                                "<td class=\"col-sql\"><pre>%4</pre></td>"
                                "<td class=\"col-state\">%5</td>"
                                "<td class=\"col-handed num\">%6</td>"
                                "<td class=\"col-created\">%7</td>"
                                "<td class=\"col-actions\">%8</td></tr>\n")
                     .arg(urut, h(r.fileName), h(r.title), h(r.sql), state,
                          QString::number(r.timesHandedOut), timeText(r.created), actions);
    }
    table += "</tbody></table></div>";
    // The page refreshes this part by itself while a request waits.
    return QStringLiteral("<div id=\"requests-box\" data-pending=\"%1\">").arg(pending ? 1 : 0) +
           table + "</div>";
}

QString WebApp::savedQueryTable(const SignedIn& session) const
{
    const QList<TallyStore::SavedQuery> saved = m_store.savedQueries(session.company.id);
    if (saved.isEmpty())
        return "<p id=\"no-saved\" class=\"muted\">Belum ada query simpanan. Beri nama di atas "
               "lalu klik Simpan query.</p>";
    QString table = "<div class=\"table-wrap\"><table id=\"saved\"><thead><tr><th>Nama</th>"
                    "<th>Nama file</th><th>SQL</th><th></th></tr></thead><tbody>\n";
    for (const TallyStore::SavedQuery& q : saved) {
        const QString id = QString::number(q.id);
        const QString actions =
            postForm("run-" + id, "run", session.csrf, {{"id", id}}, "Jalankan", "run",
                     "run-form") +
            QStringLiteral(" <button type=\"button\" id=\"load-%1\" class=\"reuse link\" "
                           "data-sql=\"%2\" data-file=\"%3\" data-title=\"%4\" data-name=\"%5\">"
                           "Ubah</button> ")
                .arg(id, h(q.sql), h(q.fileName), h(q.title), h(q.name)) +
            postForm("unsave-" + id, "unsave", session.csrf, {{"id", id}}, "Hapus", "danger",
                     "unsave-form");
        table += QStringLiteral("<tr id=\"saved-%1\"><td class=\"col-name\">%2</td>"
                                "<td class=\"col-file\">%3</td>"
                                "<td class=\"col-sql\"><pre>%4</pre></td>"
                                "<td class=\"col-actions\">%5</td></tr>\n")
                     .arg(id, h(q.name), h(q.fileName), h(q.sql), actions);
    }
    return table + "</tbody></table></div>";
}

HttpReply WebApp::reportPage(const QHttpServerRequest& request)
{
    const Page page{viewerPath, "View Reports"};
    const auto session = signedIn(request);
    if (request.method() == Method::Post) {
        const FormFields form = FormFields::parse(request.body(), FormFields::Charset::Utf8);
        if (form.value("action") == QLatin1String("logout") && !session)
            return logout(request);
        if (auto refusal = refuseForeignPost(request, form, session))
            return *refusal;
        if (form.value("action") == QLatin1String("login"))
            return login(request, form, page);
        if (form.value("action") == QLatin1String("logout"))
            return logout(request);
        return HttpReply::redirect(viewerPath.toUtf8());
    }
    if (!session)
        return loginPage(request, page, {});

    const QUrlQuery query = request.query();
    if (!query.hasQueryItem("id"))
        return reportList(*session);
    bool isNumber = false;
    const qint64 id = query.queryItemValue("id").toLongLong(&isNumber);
    const auto report = isNumber ? m_store.reportInfo(id) : std::nullopt;
    // Another company's report is answered exactly like a missing one.
    if (!report || report->companyId != session->company.id)
        return notFoundPage(*session, "Laporan tidak ditemukan.");
    const QString format = query.queryItemValue("format");
    if (format == QLatin1String("csv") || format == QLatin1String("json"))
        return reportDownload(*report, format);
    return reportView(*session, *report, request);
}

HttpReply WebApp::reportList(const SignedIn& session)
{
    const QList<TallyStore::Report> reports = m_store.reports(session.company.id);
    QString table;
    if (reports.isEmpty()) {
        table = "<p id=\"no-reports\" class=\"muted\">Belum ada laporan. Kirim query dari "
                "<a href=\"/api/ReportQ.php\">Editor Queries</a>.</p>";
    } else {
        table = "<div class=\"table-wrap\"><table id=\"reports\"><thead><tr><th>Diterima</th>"
                "<th>Judul</th><th>Nama file</th><th class=\"num\">Baris</th>"
                "<th class=\"num\">Urut</th></tr></thead><tbody>\n";
        for (const TallyStore::Report& r : reports) {
            const QString id = QString::number(r.id);
            const QString title = r.title.isEmpty() ? QStringLiteral("(tanpa judul)") : r.title;
            const QString received = timeText(r.received);
            table += QStringLiteral("<tr id=\"report-%1\"><td class=\"col-received\" "
                                    "title=\"%2\">%3</td>"
                                    "<td class=\"col-title\"><a id=\"open-%1\" "
                                    "href=\"/api/report.php?id=%1\">%4</a></td>"
                                    "<td class=\"col-file\">%5</td>"
                                    "<td class=\"col-rows num\">%6</td>"
                                    "<td class=\"col-urut num\">%7</td></tr>\n")
                         .arg(id, received, ReportView::dateText(received), h(title), h(r.fileName),
                              ReportView::numberText(QString::number(r.rowCount)),
                              QString::number(r.urut));
        }
        table += "</tbody></table></div>";
    }
    return HttpReply::html(
        layout("View Reports", fill("reports.html", {{"REPORTS", table}}), session));
}

const ReportDocument* WebApp::document(qint64 reportId)
{
    if (m_cachedReportId != reportId || !m_cachedReport) {
        m_cachedReport.reset();
        m_cachedReportId = 0;
        m_cachedViewKey.clear();
        const auto stored = m_store.report(reportId);
        if (!stored)
            return nullptr;
        m_cachedReport = ReportDocument::parse(stored->document);
        if (!m_cachedReport)
            return nullptr;
        m_cachedKinds = ReportView::columnKinds(*m_cachedReport);
        m_cachedReportId = reportId;
    }
    return &*m_cachedReport;
}

HttpReply WebApp::reportView(const SignedIn& session, const TallyStore::Report& report,
                             const QHttpServerRequest& request)
{
    using ReportView::ColumnKind;
    const ReportDocument* doc = document(report.id);
    if (!doc)
        return notFoundPage(session, "Dokumen laporan ini tidak dapat dibaca.");

    const QUrlQuery query = request.query();
    const QStringList header = doc->header();
    // A form sends its blanks as "+", which QUrlQuery leaves as they are.
    const QString search =
        QUrl::fromPercentEncoding(
            query.queryItemValue("q", QUrl::FullyEncoded).replace('+', ' ').toUtf8())
            .trimmed();
    bool sorted = false;
    const int sortColumn = query.queryItemValue("sort").toInt(&sorted);
    const int sortBy = sorted && sortColumn >= 0 && sortColumn < header.size() ? sortColumn : -1;
    const bool descending = query.queryItemValue("dir") == QLatin1String("desc");
    const QString viewKey = QStringLiteral("%1/%2/%3").arg(sortBy).arg(descending).arg(search);
    if (viewKey != m_cachedViewKey) {
        m_cachedRows = ReportView::rows(*doc, m_cachedKinds, search, sortBy, descending);
        m_cachedViewKey = viewKey;
    }
    const QList<qsizetype>& shown = m_cachedRows;

    const qsizetype rows = shown.size();
    const qsizetype pages = qMax<qsizetype>(1, (rows + rowsPerPage - 1) / rowsPerPage);
    const qsizetype page = qBound<qsizetype>(1, query.queryItemValue("page").toLongLong(), pages);
    const qsizetype first = (page - 1) * rowsPerPage;
    const qsizetype last = qMin(rows, first + rowsPerPage);

    // Every link of the page keeps the search and the sort.
    const auto link = [&](int sortBy, bool descending, qsizetype page) {
        QString url = QStringLiteral("%1?id=%2").arg(viewerPath).arg(report.id);
        if (sortBy >= 0)
            url += QStringLiteral("&sort=%1&dir=%2").arg(sortBy).arg(descending ? "desc" : "asc");
        if (!search.isEmpty())
            url += "&q=" + QString::fromLatin1(QUrl::toPercentEncoding(search));
        if (page > 1)
            url += QStringLiteral("&page=%1").arg(page);
        return h(url);
    };
    const auto kindClass = [this](qsizetype column) {
        switch (m_cachedKinds.value(column)) {
        case ColumnKind::Number:
            return QStringLiteral(" class=\"num\"");
        case ColumnKind::Date:
            return QStringLiteral(" class=\"date\"");
        case ColumnKind::Text:
            break;
        }
        return QString();
    };

    QString head = "<th class=\"rownum\">#</th>";
    for (qsizetype column = 0; column < header.size(); ++column) {
        const bool active = column == sortBy;
        const bool nextDescending = active && !descending;
        head +=
            QStringLiteral("<th%1 data-kind=\"%2\"%3><a class=\"sort%4\" href=\"%5\">%6</a></th>")
                .arg(kindClass(column),
                     m_cachedKinds.value(column) == ColumnKind::Number ? "number"
                     : m_cachedKinds.value(column) == ColumnKind::Date ? "date"
                                                                       : "text",
                     active ? QStringLiteral(" aria-sort=\"%1\"")
                                  .arg(descending ? "descending" : "ascending")
                            : QString(),
                     active ? (descending ? " desc" : " asc") : "",
                     link(int(column), nextDescending, 1), h(header.at(column)));
    }
    QString body;
    for (qsizetype at = first; at < last; ++at) {
        const qsizetype row = shown.at(at);
        body += QStringLiteral("<tr><td class=\"rownum\">%1</td>").arg(row + 1);
        for (qsizetype column = 0; column < header.size(); ++column) {
            const QString value = doc->cell(row, column);
            switch (m_cachedKinds.value(column)) {
            case ColumnKind::Number:
                body += "<td class=\"num\" data-v=\"" + h(value) + "\">" +
                        h(ReportView::numberText(value)) + "</td>";
                break;
            case ColumnKind::Date: {
                const QString readable = ReportView::dateText(value);
                body += "<td class=\"date\" title=\"" + h(value) + "\">" +
                        h(readable.isEmpty() ? value : readable) + "</td>";
                break;
            }
            case ColumnKind::Text:
                body += "<td>" + h(value) + "</td>";
                break;
            }
        }
        body += "</tr>\n";
    }

    QString pager = "<nav class=\"pager\">";
    if (page > 1)
        pager += QStringLiteral("<a id=\"page-prev\" href=\"%1\">&larr; Sebelumnya</a>")
                     .arg(link(sortBy, descending, page - 1));
    pager += QStringLiteral("<span id=\"page-info\">Halaman %1 dari %2 &middot; baris %3&ndash;%4 "
                            "dari %5</span>")
                 .arg(page)
                 .arg(pages)
                 .arg(ReportView::numberText(QString::number(rows ? first + 1 : 0)),
                      ReportView::numberText(QString::number(last)),
                      ReportView::numberText(QString::number(rows)));
    if (page < pages)
        pager += QStringLiteral("<a id=\"page-next\" href=\"%1\">Berikutnya &rarr;</a>")
                     .arg(link(sortBy, descending, page + 1));
    pager += "</nav>";

    QString hidden =
        QStringLiteral("<input type=\"hidden\" name=\"id\" value=\"%1\">").arg(report.id);
    if (sortBy >= 0)
        hidden += QStringLiteral("<input type=\"hidden\" name=\"sort\" value=\"%1\">"
                                 "<input type=\"hidden\" name=\"dir\" value=\"%2\">")
                      .arg(sortBy)
                      .arg(descending ? "desc" : "asc");
    const QString matches =
        search.isEmpty()
            ? QString()
            : QStringLiteral("<span id=\"search-count\" class=\"muted\">%1 baris cocok</span> "
                             "<a id=\"search-clear\" href=\"%2\">tampilkan semua</a>")
                  .arg(ReportView::numberText(QString::number(rows)),
                       h(QStringLiteral("%1?id=%2").arg(viewerPath).arg(report.id) +
                         (sortBy >= 0 ? QStringLiteral("&sort=%1&dir=%2")
                                            .arg(sortBy)
                                            .arg(descending ? "desc" : "asc")
                                      : QString())));

    const QString base = QStringLiteral("%1?id=%2").arg(viewerPath).arg(report.id);
    const QString title = report.title.isEmpty() ? QStringLiteral("(tanpa judul)") : report.title;
    const QString received = timeText(report.received);
    const QString content = fill(
        "report.html",
        {{"TITLE", h(title)},
         {"FILE", h(report.fileName)},
         {"RECEIVED", h(ReportView::dateText(received))},
         {"ROWS", ReportView::numberText(QString::number(doc->rowCount()))},
         {"CSV_URL", h(base + "&format=csv")},
         {"JSON_URL", h(base + "&format=json")},
         {"SEARCH_HIDDEN", hidden},
         {"SEARCH", h(search)},
         {"SEARCH_COUNT", matches},
         {"CHART_NAME", h(report.fileName.isEmpty() ? QStringLiteral("grafik") : report.fileName)},
         {"HEAD", head},
         {"BODY", body},
         {"PAGER", pager},
         {"FOOTER", h(doc->footer())}});
    return HttpReply::html(layout(title, content, session));
}

HttpReply WebApp::reportDownload(const TallyStore::Report& report, const QString& format)
{
    HttpReply reply;
    if (format == QLatin1String("json")) {
        QFile file(m_store.reportPath(report.id));
        if (!file.open(QIODevice::ReadOnly))
            return HttpReply::text("Error: report document missing", 404);
        reply.contentType = "application/json";
        reply.body = file.readAll();
    } else {
        const ReportDocument* doc = document(report.id);
        if (!doc)
            return HttpReply::text("Error: report document unreadable", 500);
        reply.contentType = "text/csv; charset=utf-8";
        reply.body = doc->toCsv();
    }
    reply.headers = {{"Content-Disposition", attachmentHeader(report.fileName, report.id, format)},
                     {"X-Content-Type-Options", "nosniff"},
                     {"Cache-Control", "no-store"}};
    return reply;
}

HttpReply WebApp::notFoundPage(const SignedIn& session, const QString& message)
{
    const QString content =
        fill("message.html",
             {{"HEADING", "Tidak ditemukan"}, {"MESSAGE", h(message)}, {"BACK", h(viewerPath)}});
    return HttpReply::html(layout("Tidak ditemukan", content, session), 404);
}

HttpReply WebApp::sitePage(const QString& page)
{
    static const QHash<QString, QString> titles = {
        {"index", "Beranda"}, {"developers", "Developers"}, {"techsupport", "Technical Support"}};
    return HttpReply::html(layout(titles.value(page), resourceText(page + ".html"), std::nullopt));
}

HttpReply WebApp::staticFile(const QString& name)
{
    // The charting library comes from its npm package (web/vendor), compiled in like the rest:
    // pages load nothing from anywhere else.
    static const QHash<QString, std::pair<QString, QByteArray>> files = {
        {"style.css", {"style.css", "text/css; charset=utf-8"}},
        {"app.js", {"app.js", "text/javascript; charset=utf-8"}},
        {"chart.umd.min.js", {"vendor/chart.umd.min.js", "text/javascript; charset=utf-8"}}};
    const auto file = files.constFind(name);
    if (file == files.cend())
        return HttpReply::text("Error: not found", 404);
    HttpReply reply;
    reply.contentType = file->second;
    reply.body = resourceText(file->first).toUtf8();
    reply.headers = {{"Cache-Control", "max-age=300"}, {"X-Content-Type-Options", "nosniff"}};
    return reply;
}
