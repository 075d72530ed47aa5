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

QByteArray newSessionToken()
{
    QByteArray bytes(32, Qt::Uninitialized);
    for (char& byte : bytes)
        byte = char(QRandomGenerator::system()->bounded(256));
    return bytes.toHex();
}

QByteArray sessionCookieHeader(const QByteArray& token)
{
    QByteArray header =
        QByteArray(WebApp::sessionCookie) + '=' + token + "; Path=/; HttpOnly; SameSite=Lax";
    if (token.isEmpty())
        header += "; Max-Age=0";
    return header;
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

} // namespace

WebApp::WebApp(TallyStore& store) : m_store(store) {}

QString WebApp::layout(const QString& title, const QString& content,
                       const std::optional<TallyStore::Company>& company) const
{
    const QString session =
        company ? fill("session.html", {{"COMPANY", h(company->name)}}) : QString();
    return fill("layout.html", {{"TITLE", h(title)}, {"CONTENT", content}, {"SESSION", session}});
}

std::optional<TallyStore::Company> WebApp::signedInCompany(const QHttpServerRequest& request)
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
    session->lastSeen = now;
    return m_store.companyById(session->companyId);
}

HttpReply WebApp::login(const FormFields& form, const QString& page, const QString& heading)
{
    auto company = m_store.companyByName(form.value("company"));
    if (!company)
        company = m_store.companyByName(form.value("company").trimmed());
    const QString apiKey = form.value("apikey").trimmed();
    if (!company || apiKey.isEmpty() || company->apiKey != apiKey)
        return loginPage(page, heading, "Nama usaha atau API key salah.");
    const QByteArray token = newSessionToken();
    m_sessions.insert(token, {company->id, QDateTime::currentDateTimeUtc()});
    qCInfo(lcServer).noquote() << "web login of" << company->name;
    return HttpReply::redirect(page.toUtf8()).withHeader("Set-Cookie", sessionCookieHeader(token));
}

HttpReply WebApp::logout(const QHttpServerRequest& request)
{
    m_sessions.remove(cookieValue(request, sessionCookie));
    return HttpReply::redirect(editorPath.toUtf8())
        .withHeader("Set-Cookie", sessionCookieHeader({}));
}

HttpReply WebApp::loginPage(const QString& page, const QString& heading, const QString& error)
{
    const QString content =
        fill("login.html",
             {{"HEADING", h(heading)},
              {"ACTION", h(page)},
              {"ERROR", error.isEmpty() ? QString() : notice("login-error", "error", error)}});
    return HttpReply::html(layout(heading, content, std::nullopt));
}

HttpReply WebApp::editorPage(const QHttpServerRequest& request)
{
    const bool post = request.method() == Method::Post;
    const FormFields form =
        post ? FormFields::parse(request.body(), FormFields::Charset::Utf8) : FormFields();
    const QString action = form.value("action");
    if (post && action == QLatin1String("login"))
        return login(form, editorPath, "Editor Queries");
    if (post && action == QLatin1String("logout"))
        return logout(request);
    const auto company = signedInCompany(request);
    if (!company)
        return loginPage(editorPath, "Editor Queries", {});

    // Changes answer with a redirect, so that reloading the page never sends them twice.
    if (post && action == QLatin1String("queue")) {
        const qint64 urut =
            m_store.queueRequest(company->id, form.value("sql"), form.value("file").trimmed(),
                                 form.value("title").trimmed());
        return HttpReply::redirect(
            (editorPath + (urut ? QStringLiteral("?queued=%1").arg(urut) : "?failed=1")).toUtf8());
    }
    if (post && action == QLatin1String("delete")) {
        bool isNumber = false;
        const qint64 urut = form.value("urut").toLongLong(&isNumber);
        const bool deleted = isNumber && m_store.deletePendingRequest(company->id, urut);
        return HttpReply::redirect(
            (editorPath + QString(deleted ? "?deleted=%1" : "?kept=%1").arg(urut)).toUtf8());
    }
    if (post)
        return HttpReply::redirect(editorPath.toUtf8());

    const QUrlQuery query = request.query();
    const qint64 queued = query.queryItemValue("queued").toLongLong();
    const qint64 deleted = query.queryItemValue("deleted").toLongLong();
    const qint64 kept = query.queryItemValue("kept").toLongLong();
    QString message;
    if (queued > 0)
        message = notice("queue-message", "ok",
                         QStringLiteral("Permintaan %1 masuk antrean.").arg(queued));
    else if (deleted > 0)
        message =
            notice("queue-message", "ok", QStringLiteral("Permintaan %1 dihapus.").arg(deleted));
    else if (kept > 0)
        message = notice(
            "queue-message", "error",
            QStringLiteral("Permintaan %1 tidak dihapus: sudah selesai atau tidak ada.").arg(kept));
    else if (query.hasQueryItem("failed"))
        message = notice("queue-message", "error", "Permintaan tidak tersimpan.");

    const QList<TallyStore::Request> requests = m_store.requests(company->id);
    QString table;
    if (requests.isEmpty()) {
        table = "<p id=\"no-requests\" class=\"muted\">Belum ada permintaan.</p>";
    } else {
        table = "<div class=\"table-wrap\"><table id=\"requests\"><thead><tr><th>Urut</th>"
                "<th>Nama file</th><th>Judul</th><th>SQL</th><th>Status</th><th>Diambil</th>"
                "<th>Dibuat</th><th></th></tr></thead><tbody>\n";
        for (const TallyStore::Request& r : requests) {
            const QString urut = QString::number(r.urut);
            QString actions =
                QStringLiteral("<button type=\"button\" id=\"reuse-%1\" class=\"reuse link\" "
                               "data-sql=\"%2\" data-file=\"%3\" data-title=\"%4\">Pakai "
                               "lagi</button>")
                    .arg(urut, h(r.sql), h(r.fileName), h(r.title));
            if (!r.done) {
                actions += QStringLiteral(" <form class=\"inline delete-form\" method=\"post\" "
                                          "action=\"%1\" data-urut=\"%2\"><input type=\"hidden\" "
                                          "name=\"action\" value=\"delete\"><input type=\"hidden\" "
                                          "name=\"urut\" value=\"%2\"><button type=\"submit\" "
                                          "id=\"delete-%2\" class=\"danger\">Hapus</button></form>")
                               .arg(editorPath, urut);
            }
            table +=
                QStringLiteral("<tr id=\"request-%1\"><td class=\"col-urut\">%1</td>"
                               "<td class=\"col-file\">%2</td><td class=\"col-title\">%3</td>"
                               "<td class=\"col-sql\"><pre>%4</pre></td>"
                               "<td class=\"col-state\"><span class=\"badge %5\">%5</span></td>"
                               "<td class=\"col-handed\">%6</td>"
                               "<td class=\"col-created\">%7</td>"
                               "<td class=\"col-actions\">%8</td></tr>\n")
                    .arg(urut, h(r.fileName), h(r.title), h(r.sql), r.done ? "done" : "pending",
                         QString::number(r.timesHandedOut), timeText(r.created), actions);
        }
        table += "</tbody></table></div>";
    }
    const QString content = fill(
        "editor.html", {{"COMPANY", h(company->name)}, {"MESSAGE", message}, {"REQUESTS", table}});
    return HttpReply::html(layout("Editor Queries", content, company));
}

HttpReply WebApp::reportPage(const QHttpServerRequest& request)
{
    const bool post = request.method() == Method::Post;
    const FormFields form =
        post ? FormFields::parse(request.body(), FormFields::Charset::Utf8) : FormFields();
    if (post && form.value("action") == QLatin1String("login"))
        return login(form, viewerPath, "View Reports");
    if (post && form.value("action") == QLatin1String("logout"))
        return logout(request);
    const auto company = signedInCompany(request);
    if (!company)
        return loginPage(viewerPath, "View Reports", {});

    const QUrlQuery query = request.query();
    if (!query.hasQueryItem("id"))
        return reportList(*company);
    bool isNumber = false;
    const qint64 id = query.queryItemValue("id").toLongLong(&isNumber);
    const auto report = isNumber ? m_store.reportInfo(id) : std::nullopt;
    // Another company's report is answered exactly like a missing one.
    if (!report || report->companyId != company->id)
        return notFoundPage(*company, "Laporan tidak ditemukan.");
    const QString format = query.queryItemValue("format");
    if (format == QLatin1String("csv") || format == QLatin1String("json"))
        return reportDownload(*report, format);
    return reportView(*company, *report, request);
}

HttpReply WebApp::reportList(const TallyStore::Company& company)
{
    const QList<TallyStore::Report> reports = m_store.reports(company.id);
    QString table;
    if (reports.isEmpty()) {
        table = "<p id=\"no-reports\" class=\"muted\">Belum ada laporan. Kirim query dari "
                "<a href=\"/api/ReportQ.php\">Editor Queries</a>.</p>";
    } else {
        table = "<div class=\"table-wrap\"><table id=\"reports\"><thead><tr><th>Diterima</th>"
                "<th>Judul</th><th>Nama file</th><th>Baris</th><th>Urut</th></tr></thead>"
                "<tbody>\n";
        for (const TallyStore::Report& r : reports) {
            const QString id = QString::number(r.id);
            const QString title = r.title.isEmpty() ? QStringLiteral("(tanpa judul)") : r.title;
            table += QStringLiteral("<tr id=\"report-%1\"><td class=\"col-received\">%2</td>"
                                    "<td class=\"col-title\"><a id=\"open-%1\" "
                                    "href=\"/api/report.php?id=%1\">%3</a></td>"
                                    "<td class=\"col-file\">%4</td><td class=\"col-rows\">%5</td>"
                                    "<td class=\"col-urut\">%6</td></tr>\n")
                         .arg(id, timeText(r.received), h(title), h(r.fileName),
                              QString::number(r.rowCount), QString::number(r.urut));
        }
        table += "</tbody></table></div>";
    }
    return HttpReply::html(
        layout("View Reports", fill("reports.html", {{"REPORTS", table}}), company));
}

const ReportDocument* WebApp::document(qint64 reportId)
{
    if (m_cachedReportId != reportId || !m_cachedReport) {
        m_cachedReport.reset();
        m_cachedReportId = 0;
        const auto stored = m_store.report(reportId);
        if (!stored)
            return nullptr;
        m_cachedReport = ReportDocument::parse(stored->document);
        if (!m_cachedReport)
            return nullptr;
        m_cachedReportId = reportId;
    }
    return &*m_cachedReport;
}

HttpReply WebApp::reportView(const TallyStore::Company& company, const TallyStore::Report& report,
                             const QHttpServerRequest& request)
{
    const ReportDocument* doc = document(report.id);
    if (!doc)
        return notFoundPage(company, "Dokumen laporan ini tidak dapat dibaca.");

    const qsizetype rows = doc->rowCount();
    const qsizetype pages = qMax<qsizetype>(1, (rows + rowsPerPage - 1) / rowsPerPage);
    const qsizetype page =
        qBound<qsizetype>(1, request.query().queryItemValue("page").toLongLong(), pages);
    const qsizetype first = (page - 1) * rowsPerPage;
    const qsizetype last = qMin(rows, first + rowsPerPage);
    const QStringList header = doc->header();

    QString head = "<th class=\"rownum\">#</th>";
    for (const QString& name : header)
        head += "<th>" + h(name) + "</th>";
    QString body;
    for (qsizetype row = first; row < last; ++row) {
        body += QStringLiteral("<tr><td class=\"rownum\">%1</td>").arg(row + 1);
        for (qsizetype column = 0; column < header.size(); ++column)
            body += "<td>" + h(doc->cell(row, column)) + "</td>";
        body += "</tr>\n";
    }

    const QString base = QStringLiteral("%1?id=%2").arg(viewerPath).arg(report.id);
    QString pager = "<nav class=\"pager\">";
    if (page > 1)
        pager += QStringLiteral("<a id=\"page-prev\" href=\"%1&amp;page=%2\">&larr; Sebelumnya</a>")
                     .arg(base)
                     .arg(page - 1);
    pager += QStringLiteral("<span id=\"page-info\">Halaman %1 dari %2 &middot; baris %3&ndash;%4 "
                            "dari %5</span>")
                 .arg(page)
                 .arg(pages)
                 .arg(rows ? first + 1 : 0)
                 .arg(last)
                 .arg(rows);
    if (page < pages)
        pager += QStringLiteral("<a id=\"page-next\" href=\"%1&amp;page=%2\">Berikutnya &rarr;</a>")
                     .arg(base)
                     .arg(page + 1);
    pager += "</nav>";

    const QString title = report.title.isEmpty() ? QStringLiteral("(tanpa judul)") : report.title;
    const QString content = fill("report.html", {{"TITLE", h(title)},
                                                 {"FILE", h(report.fileName)},
                                                 {"RECEIVED", timeText(report.received)},
                                                 {"ROWS", QString::number(rows)},
                                                 {"CSV_URL", h(base + "&format=csv")},
                                                 {"JSON_URL", h(base + "&format=json")},
                                                 {"HEAD", head},
                                                 {"BODY", body},
                                                 {"PAGER", pager},
                                                 {"FOOTER", h(doc->footer())}});
    return HttpReply::html(layout(title, content, company));
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

HttpReply WebApp::notFoundPage(const TallyStore::Company& company, const QString& message)
{
    const QString content =
        fill("message.html",
             {{"HEADING", "Tidak ditemukan"}, {"MESSAGE", h(message)}, {"BACK", h(viewerPath)}});
    return HttpReply::html(layout("Tidak ditemukan", content, company), 404);
}

HttpReply WebApp::sitePage(const QString& page)
{
    static const QHash<QString, QString> titles = {
        {"index", "Beranda"}, {"developers", "Developers"}, {"techsupport", "Technical Support"}};
    return HttpReply::html(layout(titles.value(page), resourceText(page + ".html"), std::nullopt));
}

HttpReply WebApp::staticFile(const QString& name)
{
    static const QHash<QString, QByteArray> types = {{"style.css", "text/css; charset=utf-8"},
                                                     {"app.js", "text/javascript; charset=utf-8"}};
    if (!types.contains(name))
        return HttpReply::text("Error: not found", 404);
    HttpReply reply;
    reply.contentType = types.value(name);
    reply.body = resourceText(name).toUtf8();
    reply.headers = {{"Cache-Control", "max-age=300"}, {"X-Content-Type-Options", "nosniff"}};
    return reply;
}
