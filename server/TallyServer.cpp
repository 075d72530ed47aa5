// The reporting service's endpoints.
#include "TallyServer.h"

#include "Envelope.h"
#include "FormFields.h"
#include "ReportDocument.h"
#include "WebApp.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QLoggingCategory>
#include <QPointer>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTimer>
#include <QUrlQuery>
#include <chrono>

Q_LOGGING_CATEGORY(lcServer, "tallyframe.server", QtInfoMsg)

namespace {

using Method = QHttpServerRequest::Method;

const QString deviceNotFound = QStringLiteral("Error: DeviceName not found");
const QString invalidApiKey = QStringLiteral("Error: invalid APIKey");

QString queryValue(const QHttpServerRequest& request, const QString& key)
{
    return request.query().queryItemValue(key, QUrl::FullyDecoded);
}

FormFields agentForm(const QHttpServerRequest& request)
{
    return FormFields::parse(request.body(), FormFields::Charset::Windows1252);
}

// The agent cuts a request text into blocks at every empty line, after turning each LF into
// CR LF. A value with an empty line or a trailing line break would therefore split its block:
// empty lines get a blank, trailing line breaks go.
QString blockValue(QString value)
{
    static const QRegularExpression trailingBreaks(QStringLiteral("\\s*\n\\s*$"));
    static const QRegularExpression emptyLine(QStringLiteral("\n(?=\n)"));
    value.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    value.remove(trailingBreaks);
    value.replace(emptyLine, QStringLiteral("\n "));
    return value;
}

// Update files are addressed by a bare name inside the app folder, never by a path.
bool isPlainFileName(const QString& name)
{
    return !name.isEmpty() && !name.contains('/') && !name.contains('\\') &&
           !name.contains(QLatin1String("..")) && !name.contains(QChar(0)) && !name.contains(':');
}

HttpReply envelopeReply(const QByteArray& envelope)
{
    HttpReply reply;
    reply.body = envelope;
    return reply;
}

// The text an uploaded document carries back: the hand-out token at the end of its file name, or
// of its title when the request had no file name to carry it.
const QRegularExpression& tokenAtEnd()
{
    static const QRegularExpression pattern(QStringLiteral("~([0-9a-f]{32})$"));
    return pattern;
}

// The document as stored: the bytes received with the token left out, as pieces of the received
// bytes. A title that was nothing but the token leaves with its whole member, so that the stored
// document reads exactly as if no token had travelled.
QList<QByteArrayView> withoutToken(const QByteArray& document, const QString& token,
                                   bool wholeTitle)
{
    const QByteArray cut = '~' + token.toLatin1();
    const QByteArray member = "\"title\":\"" + cut + "\",";
    qsizetype at = wholeTitle ? document.indexOf(member) : -1;
    qsizetype length = member.size();
    if (at < 0) {
        at = document.indexOf(cut);
        length = cut.size();
    }
    if (at < 0)
        return {QByteArrayView(document)};
    const QByteArrayView bytes(document);
    return {bytes.first(at), bytes.sliced(at + length)};
}

QString randomHex(int digits)
{
    QString text;
    for (int i = 0; i < digits; ++i)
        text += QString::number(QRandomGenerator::system()->bounded(16), 16);
    return text;
}

} // namespace

TallyServer::TallyServer(const QString& dataDir, QObject* parent)
    : QObject(parent), m_store(dataDir), m_web(std::make_unique<WebApp>(m_store))
{
    if (!m_store.open(&m_error))
        qCWarning(lcServer).noquote() << m_error;

    for (const QString& kind : FaultConfig::allKinds())
        m_stats.insert("fault_" + kind, 0);
    for (const char* key : {"faults_total", "api_requests", "handed_out", "flagged",
                            "reports_received", "reports_refused", "requests_queued",
                            "requests_refused", "lookups_failed", "lookups_throttled"})
        m_stats.insert(key, 0);

    const auto bind = [this](HttpReply (TallyServer::*member)(const QHttpServerRequest&)) {
        return
            [this, member](const QHttpServerRequest& request) { return (this->*member)(request); };
    };
    addRoute("/api/get_api_key_with_mac_on_your_pc_pix482pix917pix6035pixqrmvdsb.php",
             Faults::Apply, bind(&TallyServer::apiKeyByDevice));
    addRoute("/api/get_company_name.php", Faults::Apply, bind(&TallyServer::companyNameByDevice));
    addRoute("/api/get_telp.php", Faults::Apply, bind(&TallyServer::telpByDevice));
    addRoute("/api/get_connection_string.php", Faults::Apply,
             bind(&TallyServer::connectionStringByDevice));
    addRoute("/api/get_app_hide.php", Faults::Apply, bind(&TallyServer::appHideByDevice));
    addRoute("/api/register_company.php", Faults::Apply, bind(&TallyServer::registerCompany));
    addRoute("/api/edit_company.php", Faults::Apply, bind(&TallyServer::editCompany));
    addRoute("/api/get_rs_req.php", Faults::ApplyToPoll, bind(&TallyServer::nextReportRequest));
    addRoute("/api/save-json.php", Faults::Apply, bind(&TallyServer::saveReport));
    addRoute("/api/update_flag.php", Faults::Apply, bind(&TallyServer::updateFlag));
    addRoute("/api/queue_request.php", Faults::Exempt, bind(&TallyServer::queueRequest));
    addRoute("/api/_stats", Faults::Exempt, [this](const QHttpServerRequest& request) {
        // Counters tell an outsider how busy the service is and who polls: local eyes only.
        if (!request.remoteAddress().isLoopback())
            return HttpReply::text("Error: not found", 404);
        return HttpReply::text(statsText());
    });
    m_http.route("/api/app/<arg>", [this](const QString& name, const QHttpServerRequest& request,
                                          QHttpServerResponder&& responder) {
        dispatch(request, std::move(responder), Faults::Apply,
                 [this, name](const QHttpServerRequest& r) { return appFile(name, r); });
    });

    addRoute("/api/ReportQ.php", Faults::Exempt,
             [this](const QHttpServerRequest& r) { return m_web->editorPage(r); });
    addRoute("/api/report.php", Faults::Exempt,
             [this](const QHttpServerRequest& r) { return m_web->reportPage(r); });
    for (const QString page : {"developers", "techsupport"}) {
        addRoute("/" + page, Faults::Exempt,
                 [this, page](const QHttpServerRequest&) { return m_web->sitePage(page); });
    }
    addRoute("/", Faults::Exempt,
             [this](const QHttpServerRequest&) { return m_web->sitePage("index"); });
    m_http.route("/static/<arg>", [this](const QString& name, const QHttpServerRequest& request,
                                         QHttpServerResponder&& responder) {
        dispatch(request, std::move(responder), Faults::Exempt,
                 [this, name](const QHttpServerRequest&) { return m_web->staticFile(name); });
    });
    m_http.setMissingHandler(
        [](const QHttpServerRequest& request, QHttpServerResponder&& responder) {
            qCDebug(lcServer).noquote() << "404" << request.url().path();
            HttpReply::text("Error: not found", 404).send(std::move(responder));
        });
}

TallyServer::~TallyServer() = default;

void TallyServer::addRoute(const QString& path, Faults faults, Handler handler)
{
    // Route paths are regular expressions to the router; a dot must only match a dot.
    QString pattern = path;
    pattern.replace('.', QLatin1String("\\."));
    m_http.route(pattern, [this, faults, handler](const QHttpServerRequest& request,
                                                  QHttpServerResponder&& responder) {
        dispatch(request, std::move(responder), faults, handler);
    });
}

void TallyServer::enableFaultControl()
{
    addRoute("/api/_faults", Faults::Exempt, [this](const QHttpServerRequest& request) {
        if (request.method() != QHttpServerRequest::Method::Post)
            return HttpReply::text("Error: method not allowed", 405);
        const FormFields form = FormFields::parse(request.body(), FormFields::Charset::Utf8);
        FaultConfig faults;
        bool rateOk = false, seedOk = false, delayOk = false;
        faults.rate = form.value("rate").toDouble(&rateOk);
        faults.seed = form.value("seed").toUInt(&seedOk);
        faults.delaySeconds = form.value("delay").toInt(&delayOk);
        QString error;
        if (!rateOk || !seedOk || !delayOk || faults.rate < 0.0 || faults.rate > 1.0)
            return HttpReply::text("Error: rate, seed and delay must be numbers", 400);
        if (!form.value("kinds").isEmpty() &&
            !FaultConfig::parseKinds(form.value("kinds"), &faults.kinds, &error))
            return HttpReply::text("Error: " + error, 400);
        if (!setFaults(faults))
            return HttpReply::text("Error: " + m_error, 403);
        return HttpReply::text("ok");
    });
}

void TallyServer::count(const QString& key, qint64 by)
{
    m_stats[key] += by;
}

void TallyServer::dispatch(const QHttpServerRequest& request, QHttpServerResponder&& responder,
                           Faults faults, const Handler& handler)
{
    const QString path = request.url().path();
    // The agent's traffic; the counters' and the fault mode's own endpoints are not part of it.
    if (path.startsWith(QLatin1String("/api/")) && !path.startsWith(QLatin1String("/api/_")))
        count("api_requests");
    const FaultKind fault =
        faults == Faults::Exempt ? FaultKind::None : m_faults.draw(faults == Faults::ApplyToPoll);
    const auto injected = [this, &path](FaultKind kind) {
        const QString name = FaultInjector::name(kind);
        count("fault_" + name);
        count("faults_total");
        qCDebug(lcServer).noquote() << "fault" << name << "on" << path;
    };

    // Faults that stand for a request the server never carried out.
    if (fault == FaultKind::Drop) {
        injected(fault);
        responder.socket()->disconnectFromHost();
        return;
    }
    if (fault == FaultKind::Status500) {
        injected(fault);
        HttpReply::text("Internal Server Error", 500).send(std::move(responder));
        return;
    }

    HttpReply reply = handler(request);
    qCDebug(lcServer).noquote() << request.method() << path << reply.status;

    switch (fault) {
    case FaultKind::None:
    case FaultKind::Drop:
    case FaultKind::Status500:
        break;
    case FaultKind::Status201:
        injected(fault);
        reply.status = 201;
        break;
    case FaultKind::Garbage:
        injected(fault);
        reply.status = 200;
        reply.body = m_faults.garbage();
        break;
    case FaultKind::Half:
        if (reply.body.startsWith("Urut:")) {
            // Keep blocks 0 and 1: the number and the file name.
            const qsizetype firstGap = reply.body.indexOf("\n\n");
            const qsizetype secondGap = reply.body.indexOf("\n\n", firstGap + 2);
            if (firstGap >= 0 && secondGap >= 0) {
                injected(fault);
                reply.body.truncate(secondGap);
            }
        }
        break;
    case FaultKind::Truncate:
        if (!reply.body.isEmpty()) {
            injected(fault);
            responder.writeStatusLine(static_cast<QHttpServerResponder::StatusCode>(reply.status));
            responder.writeHeader("Content-Type", reply.contentType);
            for (const auto& [name, value] : reply.headers)
                responder.writeHeader(name, value);
            responder.writeHeader("Content-Length", QByteArray::number(reply.body.size()));
            responder.writeBody(reply.body.left(reply.body.size() / 2));
            responder.socket()->disconnectFromHost();
            return;
        }
        break;
    case FaultKind::Delay: {
        injected(fault);
        auto pending = std::make_shared<QHttpServerResponder>(std::move(responder));
        QPointer<QTcpSocket> socket = pending->socket();
        QTimer::singleShot(std::chrono::seconds(m_faults.config().delaySeconds), this,
                           [pending, socket, reply]() {
                               // The client has usually given up and closed the connection.
                               if (socket && socket->state() == QAbstractSocket::ConnectedState)
                                   reply.send(std::move(*pending));
                           });
        return;
    }
    }
    reply.send(std::move(responder));
}

bool TallyServer::listen(const QHostAddress& address, quint16 port)
{
    if (m_faults.config().isActive() && !address.isLoopback()) {
        m_error = QStringLiteral("fault mode is only available on a loopback address");
        return false;
    }
    if (!m_store.isOpen()) {
        if (m_error.isEmpty())
            m_error = QStringLiteral("the data store is not open");
        return false;
    }
    auto* tcp = new GuardedTcpServer(m_limits, this);
    if (!tcp->listen(address, port)) {
        m_error = QStringLiteral("cannot listen on %1 port %2: %3")
                      .arg(address.toString())
                      .arg(port)
                      .arg(tcp->errorString());
        delete tcp;
        return false;
    }
    connect(tcp, &GuardedTcpServer::refused, this, [this]() { count("requests_refused"); });
    m_http.bind(tcp);
    m_tcp = tcp;
    const quint16 bound = tcp->serverPort();
    m_address = address;
    m_port = bound;
    return true;
}

quint16 TallyServer::port() const
{
    return m_port;
}

QString TallyServer::baseUrl() const
{
    QString host = m_address.toString();
    if (m_address.isNull() || m_address == QHostAddress::Any ||
        m_address == QHostAddress::AnyIPv4 || m_address == QHostAddress::LocalHost)
        host = QStringLiteral("127.0.0.1");
    else if (m_address.protocol() == QAbstractSocket::IPv6Protocol)
        host = '[' + host + ']';
    return QStringLiteral("http://%1:%2").arg(host).arg(m_port);
}

QString TallyServer::errorString() const
{
    return m_error;
}

TallyStore& TallyServer::store()
{
    return m_store;
}

void TallyServer::setLimits(const ConnectionLimits& limits)
{
    m_limits = limits;
    if (m_tcp)
        m_tcp->setLimits(limits);
}

const ConnectionLimits& TallyServer::limits() const
{
    return m_limits;
}

bool TallyServer::setFaults(const FaultConfig& faults)
{
    if (faults.isActive() && m_port != 0 && !m_address.isLoopback()) {
        m_error = QStringLiteral("fault mode is only available on a loopback address");
        return false;
    }
    m_faults.configure(faults);
    return true;
}

const FaultConfig& TallyServer::faults() const
{
    return m_faults.config();
}

QMap<QString, qint64> TallyServer::stats() const
{
    return m_stats;
}

QString TallyServer::statsText() const
{
    QString text;
    for (auto it = m_stats.cbegin(); it != m_stats.cend(); ++it)
        text += QStringLiteral("%1=%2\n").arg(it.key()).arg(it.value());
    return text;
}

// --- profile look-ups --------------------------------------------------------------------------

std::optional<TallyStore::Company> TallyServer::lookUp(const QHttpServerRequest& request,
                                                       bool checkKey, HttpReply* refusal)
{
    const QString address = request.remoteAddress().toString();
    if (m_lookupThrottle.isBlocked(address)) {
        count("lookups_throttled");
        *refusal = HttpReply::text("Error: too many failed look-ups, try again later", 429);
        return std::nullopt;
    }
    const QString device = queryValue(request, "DeviceName");
    auto company = m_store.companyByDevice(device);
    const bool keyWrong = company && checkKey && company->apiKey != queryValue(request, "APIKey");
    if (!company || keyWrong) {
        count("lookups_failed");
        // A device name alone hands out the API key: guessing names must stay slow.
        if (m_lookupThrottle.recordFailure(address))
            qCWarning(lcServer).noquote()
                << "failed look-ups from" << address << "are throttled; the last asked for"
                << request.url().path() << "with device" << device;
        else
            qCInfo(lcServer).noquote() << "failed look-up from" << address << "for device" << device
                                       << (keyWrong ? "(wrong API key)" : "");
    }
    return company;
}

HttpReply TallyServer::apiKeyByDevice(const QHttpServerRequest& request)
{
    HttpReply refusal;
    const auto company = lookUp(request, false, &refusal);
    if (refusal.status != 200)
        return refusal;
    return HttpReply::text(company ? company->apiKey : deviceNotFound);
}

HttpReply TallyServer::companyNameByDevice(const QHttpServerRequest& request)
{
    HttpReply refusal;
    const auto company = lookUp(request, false, &refusal);
    if (refusal.status != 200)
        return refusal;
    return HttpReply::text(company ? company->name : deviceNotFound);
}

HttpReply TallyServer::telpByDevice(const QHttpServerRequest& request)
{
    HttpReply refusal;
    const auto company = lookUp(request, true, &refusal);
    if (refusal.status != 200)
        return refusal;
    if (!company)
        return HttpReply::text("Error: telp not found");
    if (company->apiKey != queryValue(request, "APIKey"))
        return HttpReply::text(invalidApiKey);
    if (company->telp.isEmpty())
        return HttpReply::text("Error: telp not found");
    return HttpReply::text(company->telp);
}

HttpReply TallyServer::connectionStringByDevice(const QHttpServerRequest& request)
{
    // Refusals begin "Error" without a colon: the agent takes any answer with "Error:" for a
    // missing string and only looks at the refusal's words when the colon is absent.
    HttpReply refusal;
    const auto company = lookUp(request, true, &refusal);
    if (refusal.status != 200)
        return refusal;
    if (!company)
        return HttpReply::text("Error - company not found");
    if (company->apiKey != queryValue(request, "APIKey"))
        return HttpReply::text("Error - invalid APIKey");
    return HttpReply::text(company->connStr);
}

HttpReply TallyServer::appHideByDevice(const QHttpServerRequest& request)
{
    // The agent asks for the hide flag first, with the key it held before this load (none at
    // its first start), so the key is not checked here.
    HttpReply refusal;
    const auto company = lookUp(request, false, &refusal);
    if (refusal.status != 200)
        return refusal;
    return HttpReply::text(company && company->appHide != 0 ? "1" : "0");
}

// --- accounts ----------------------------------------------------------------------------------

HttpReply TallyServer::registerCompany(const QHttpServerRequest& request)
{
    const FormFields form = agentForm(request);
    QString name = form.value("CompanyName");
    const QString device = form.value("DeviceName");
    if (name.trimmed().isEmpty())
        return envelopeReply(Envelope::error("Nama usaha (CompanyName) harus diisi"));
    if (device.isEmpty())
        return envelopeReply(Envelope::error("DeviceName harus diisi"));
    if (m_store.companyByDevice(device))
        return envelopeReply(Envelope::error("Perangkat ini sudah terdaftar (DeviceName already "
                                             "registered)"));
    if (m_store.companyByName(name)) {
        // Every unknown device registers itself as "Anonymous" at its first start.
        if (name != QLatin1String("Anonymous"))
            return envelopeReply(Envelope::error("Nama usaha sudah digunakan (CompanyName "
                                                 "already taken)"));
        do {
            name = QStringLiteral("Anonymous-") + randomHex(4);
        } while (m_store.companyByName(name));
    }
    const TallyStore::Company company =
        m_store.createCompany(name, device, form.value("Telp"), form.value("ConnStr"), 0);
    if (company.id == 0)
        return envelopeReply(Envelope::error("Registrasi gagal (registration failed)"));
    qCInfo(lcServer).noquote() << "registered" << company.name << "for" << device;
    return envelopeReply(Envelope::write({{"status", "success"},
                                          {"message", "Registrasi berhasil"},
                                          {"api_key", company.apiKey},
                                          {"telp", company.telp}}));
}

HttpReply TallyServer::editCompany(const QHttpServerRequest& request)
{
    const FormFields form = agentForm(request);
    const QString apiKey = form.value("APIKey");
    const auto current = apiKey.isEmpty() ? std::nullopt : m_store.companyByApiKey(apiKey);
    if (!current)
        return envelopeReply(Envelope::error("APIKey tidak valid"));

    TallyStore::Company company = *current;
    const QString name = form.value("CompanyName");
    if (!name.trimmed().isEmpty()) {
        const auto holder = m_store.companyByName(name);
        if (holder && holder->id != company.id)
            return envelopeReply(Envelope::error("Nama usaha sudah digunakan (CompanyName "
                                                 "already taken)"));
        company.name = name;
    }
    // Fields sent empty are cleared; the agent leaves empty fields out altogether.
    if (form.contains("ConnStr"))
        company.connStr = form.value("ConnStr");
    if (form.contains("Telp"))
        company.telp = form.value("Telp");
    const QString device = form.value("DeviceName");
    if (!device.isEmpty()) {
        const auto holder = m_store.companyByDevice(device);
        if (holder && holder->id != company.id)
            return envelopeReply(Envelope::error("DeviceName sudah dipakai perusahaan lain "
                                                 "(DeviceName belongs to another company)"));
        company.deviceName = device;
    }
    const QString appHide = form.value("AppHide").trimmed();
    if (!appHide.isEmpty()) {
        if (appHide != QLatin1String("0") && appHide != QLatin1String("1"))
            return envelopeReply(Envelope::error("AppHide harus 0 atau 1"));
        company.appHide = appHide.toInt();
    }
    if (!m_store.updateCompany(company))
        return envelopeReply(Envelope::error("Data gagal diperbarui (update failed)"));
    return envelopeReply(Envelope::write({{"status", "success"},
                                          {"message", "Data berhasil diperbarui"},
                                          {"api_key", company.apiKey},
                                          {"telp", company.telp},
                                          {"companyName", company.name}}));
}

// --- report pipeline ---------------------------------------------------------------------------

HttpReply TallyServer::nextReportRequest(const QHttpServerRequest& request)
{
    const QString name = queryValue(request, "companyName");
    if (name.isEmpty())
        return HttpReply::text("Error: company name is required");
    const auto company = m_store.companyByName(name);
    if (!company)
        return HttpReply::text("Error: company not found");
    m_web->notePoll(company->id);
    const auto next = m_store.oldestPendingRequest(company->id);
    if (!next)
        return HttpReply::text("nothing");
    // It stays pending, and is handed out again on every poll, until the agent flags it. The
    // agent sends the file name back as it got it, so the name carries the request's token; a
    // request without a name (the agent asks its user for one) carries it in the title.
    const QString token = '~' + m_store.recordHandOut(*next);
    count("handed_out");
    const bool named = !next->fileName.isEmpty();
    return HttpReply::text(QStringLiteral("Urut:%1\n\nFileName:%2\n\nSQLstr:%3\n\nRptTitle: %4")
                               .arg(next->urut)
                               .arg(named ? blockValue(next->fileName) + token : QString(),
                                    blockValue(next->sql),
                                    blockValue(next->title) + (named ? QString() : token)));
}

HttpReply TallyServer::saveReport(const QHttpServerRequest& request)
{
    if (request.method() != Method::Post)
        return HttpReply::text("Error: method not allowed", 405);
    // body() shares the bytes the server already holds; nothing below copies them.
    const QByteArray document = request.body();
    const auto parsed = ReportDocument::parse(document);
    if (!parsed)
        return HttpReply::text("Error: invalid report document", 400);
    // Matched by the token alone: file names are the companies' own and repeat across them.
    QString fileName = parsed->fileName(), title = parsed->title();
    const QRegularExpressionMatch inName = tokenAtEnd().match(fileName);
    const QRegularExpressionMatch inTitle = tokenAtEnd().match(title);
    const QString token = inName.hasMatch() ? inName.captured(1) : inTitle.captured(1);
    const auto target = m_store.requestByToken(token);
    if (!target) {
        count("reports_refused");
        qCWarning(lcServer).noquote() << "report from" << request.remoteAddress().toString()
                                      << "matches no handed-out request; refused";
        return HttpReply::text("Error: no pending request for this report", 404);
    }
    if (inName.hasMatch())
        fileName.chop(inName.capturedLength());
    else
        title.chop(inTitle.capturedLength());

    TallyStore::Report info;
    info.companyId = target->companyId;
    info.urut = target->urut;
    info.fileName = parsed->hasFileName() ? fileName : target->fileName;
    info.title = title.isEmpty() ? target->title : title;
    info.rowCount = parsed->rowCount();
    QString error;
    const bool wholeTitle = !inName.hasMatch() && title.isEmpty();
    if (m_store.addReport(info, withoutToken(document, token, wholeTitle), &error) == 0)
        return HttpReply::text("Error: report not stored", 500);
    count("reports_received");
    qCInfo(lcServer).noquote() << "report for Urut" << info.urut << info.rowCount << "rows,"
                               << document.size() << "bytes";
    return HttpReply::text(
        QStringLiteral("Report received: %1 (%2 rows)").arg(info.fileName).arg(info.rowCount));
}

HttpReply TallyServer::updateFlag(const QHttpServerRequest& request)
{
    if (request.method() != Method::Post)
        return HttpReply::text("Error: method not allowed", 405);
    const FormFields form = agentForm(request);
    if (!form.contains("Urut"))
        return HttpReply::text("Error: Urut is required", 400);
    bool isNumber = false;
    const qint64 urut = form.value("Urut").trimmed().toLongLong(&isNumber);
    if (!isNumber)
        return HttpReply::text("Error: invalid Urut", 400);
    // Flag 0 closes a request; 1 opens it again.
    const QString flag = form.value("Flag").trimmed();
    if (flag != QLatin1String("0") && flag != QLatin1String("1"))
        return HttpReply::text("Error: invalid Flag", 400);
    if (!m_store.request(urut))
        return HttpReply::text("Error: request not found", 404);
    m_store.setRequestDone(urut, flag == QLatin1String("0"),
                           form.value("updateDtModified") == QLatin1String("1"));
    if (flag == QLatin1String("0"))
        count("flagged");
    return HttpReply::text("OK");
}

HttpReply TallyServer::queueRequest(const QHttpServerRequest& request)
{
    if (request.method() != Method::Post)
        return HttpReply::text("Error: method not allowed", 405);
    const FormFields form = FormFields::parse(request.body(), FormFields::Charset::Utf8);
    const QString apiKey = form.value("APIKey");
    const auto company = apiKey.isEmpty() ? std::nullopt : m_store.companyByApiKey(apiKey);
    if (!company)
        return HttpReply::text(invalidApiKey, 403);
    // An empty SQL or file name would have the agent ask its user on every poll.
    const QString sql = form.value("Sql"), fileName = form.value("FileName").trimmed();
    if (sql.trimmed().isEmpty() || fileName.isEmpty())
        return HttpReply::text("Error: Sql and FileName are required", 400);
    const qint64 urut = m_store.queueRequest(company->id, sql, fileName, form.value("Title"));
    if (urut == 0)
        return HttpReply::text("Error: request not stored", 500);
    count("requests_queued");
    return HttpReply::text(QStringLiteral("Urut:%1").arg(urut));
}

// --- update files ------------------------------------------------------------------------------

HttpReply TallyServer::appFile(const QString& name, const QHttpServerRequest& request)
{
    const bool timeQuery = name == QLatin1String("get_file_time.php");
    const QString fileName = timeQuery ? queryValue(request, "file") : name;
    if (!isPlainFileName(fileName))
        return HttpReply::text("Error: invalid file name", 400);
    const QFileInfo info(QDir(m_store.appDir()).filePath(fileName));
    if (!info.isFile())
        return HttpReply::text("Error: 404", 404);
    if (timeQuery)
        return HttpReply::text(info.lastModified().toLocalTime().toString("yyyy-MM-dd HH:mm:ss"));

    QFile file(info.filePath());
    if (!file.open(QIODevice::ReadOnly))
        return HttpReply::text("Error: 404", 404);
    HttpReply reply;
    reply.contentType = "application/octet-stream";
    reply.body = file.readAll();
    return reply;
}
