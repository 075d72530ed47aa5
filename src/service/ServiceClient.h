// The reporting service: where it is, how the agent calls it, its endpoints and the texts the
// agent exchanges with them.
#pragma once

#include "HttpTransport.h"

#include <QNetworkProxy>
#include <QString>

#include <memory>
#include <optional>

class QIODevice;
class QNetworkAccessManager;
class QNetworkReply;

namespace Endpoint {
inline constexpr char ApiKey[] =
    "/api/get_api_key_with_mac_on_your_pc_pix482pix917pix6035pixqrmvdsb.php";
inline constexpr char CompanyName[] = "/api/get_company_name.php";
inline constexpr char Telp[] = "/api/get_telp.php";
inline constexpr char ConnectionString[] = "/api/get_connection_string.php";
inline constexpr char AppHide[] = "/api/get_app_hide.php";
inline constexpr char RegisterCompany[] = "/api/register_company.php";
inline constexpr char EditCompany[] = "/api/edit_company.php";
inline constexpr char ReportRequest[] = "/api/get_rs_req.php";
inline constexpr char SaveJson[] = "/api/save-json.php";
inline constexpr char UpdateFlag[] = "/api/update_flag.php";
inline constexpr char QueryEditorPage[] = "/api/ReportQ.php";
inline constexpr char ReportViewerPage[] = "/api/report.php";
} // namespace Endpoint

// What the account endpoints answer for any status other than 200, whatever the service sent.
inline constexpr char kFailureEnvelope[] =
    R"({"status":"error","message":"Failed to connect to API."})";

// Form encoding of one value: only ASCII letters and digits pass, a blank becomes "+", every
// other character becomes "%" and the last two hex digits of its code-page value.
QString UrlEncode(const QString& text);

// Percent-encoding of a value put into a GET address, so that "&" or "#" in an API key or a
// company name reaches the service whole.
QString QueryValue(const QString& value);

// The answer without a final `"}`, else unchanged.
QString TrimEnvelopeEnd(const QString& response);
// The value of a string field cut out of a trimmed answer; no value when the field is absent.
std::optional<QString> EnvelopeField(const QString& trimmed, const QString& name);

// An account endpoint's answer, read once for every caller. Absent text fields are empty; the
// key and the number are kept only when the answer has them.
struct AccountAnswer
{
    QString message;
    QString companyName;
    std::optional<QString> apiKey;
    std::optional<QString> telp;
    // The account window decides by the "status" value: it contains "error", any case.
    bool statusIsError = false;
    // The other callers decide by quoted words anywhere in the trimmed answer: "error" in any
    // case, "success" exactly as written.
    bool saysError = false;
    bool saysSuccess = false;
};
AccountAnswer ReadAccountAnswer(const QString& response);

// The form bodies, exposed so that their exact bytes can be checked.
QByteArray RegisterCompanyBody(const QString& companyName, const QString& connStr,
                               const QString& telp, const QString& deviceName);
QByteArray EditCompanyBody(const QString& apiKey, const QString& companyName,
                           const QString& connStr, const QString& telp, const QString& deviceName,
                           const QString& appHide);

// Where the service is and how long a call may wait: read once, when the agent starts.
struct ServiceSettings
{
    QString baseUrl; // scheme, host, optional port; no trailing slash
    int timeoutMs = 30000;
    QString webUrl = {}; // the product's web site, for the help menu's links

    // "https://" + the build's hosts and 30 s, unless TALLYFRAME_SERVICE_URL,
    // TALLYFRAME_HTTP_TIMEOUT_MS or TALLYFRAME_WEB_URL say otherwise (tests, the demo,
    // self-hosting).
    static ServiceSettings fromEnvironment();
    bool operator==(const ServiceSettings&) const = default;
};

// Synchronous calls to the service. Each client belongs to the thread that calls it: its
// network manager keeps connections alive between the poll's twice-a-second calls, and a wait
// keeps that thread's window painting but takes no user input.
class ServiceClient
{
public:
    explicit ServiceClient(ServiceSettings settings = ServiceSettings::fromEnvironment());
    ~ServiceClient();
    ServiceClient(ServiceClient&&) noexcept;
    ServiceClient& operator=(ServiceClient&&) noexcept;

    const ServiceSettings& settings() const { return m_settings; }
    // Full address of a service path.
    QString url(const QString& path) const { return m_settings.baseUrl + path; }
    // The service host as shown to the user: host[:port].
    QString hostDisplay() const;
    // True while a call waits for its answer: timers skip a tick instead of overlapping.
    bool busy() const { return m_busy > 0; }
    // The proxy of every later call, instead of the system's look-up per call. Set on the thread
    // that makes the calls, like every call.
    void setProxy(const QNetworkProxy& proxy);

    // Throw TransportError when no HTTP answer comes at all.
    TransportReply get(const QString& url);
    TransportReply post(const QString& url, const QByteArray& contentType, const QByteArray& body);
    // Streams the body from an open device of known size (large report uploads).
    TransportReply postDevice(const QString& url, const QByteArray& contentType, QIODevice* body,
                              qint64 size);

    // Status-tested GET: the body for 200, otherwise "Error: " + status.
    QString ServiceGet(const QString& url);

    // Profile look-ups: the service's bare answer text, untouched (UTF-8, or Windows-1252 when
    // the bytes are not UTF-8). Throw TransportError, also for an answer that is no value: a
    // status other than 200 whose body is not one of the look-ups' own "Error..." or
    // "DeviceName not found" texts, or control characters other than tabs and line breaks.
    QString GetApiKey(const QString& deviceName);
    QString GetCompanyName(const QString& deviceName);
    QString GetTelp(const QString& deviceName, const QString& apiKey);
    QString GetConnectionString(const QString& deviceName, const QString& apiKey);
    QString GetAppHide(const QString& deviceName, const QString& apiKey);

    // Account endpoints: the answer text, or kFailureEnvelope for a status other than 200.
    QString RegisterCompany(const QString& companyName, const QString& connStr, const QString& telp,
                            const QString& deviceName);
    QString EditCompany(const QString& apiKey, const QString& companyName, const QString& connStr,
                        const QString& telp, const QString& deviceName, const QString& appHide);

private:
    QNetworkAccessManager& manager();
    TransportReply wait(QNetworkReply* reply);
    QString lookupGet(const char* path, const QString& deviceName, const QString* apiKey);
    QString statusTestedPost(const char* path, const QByteArray& body);

    ServiceSettings m_settings;
    std::unique_ptr<QNetworkAccessManager> m_manager;
    int m_busy = 0;
};
