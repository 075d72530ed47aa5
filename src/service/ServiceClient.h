// The reporting service's endpoints and the texts the agent exchanges with them.
#pragma once

#include <QString>

#include <optional>

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
inline constexpr char FileTime[] = "/api/app/get_file_time.php";
inline constexpr char AppFiles[] = "/api/app/";
inline constexpr char QueryEditorPage[] = "/api/ReportQ.php";
inline constexpr char ReportViewerPage[] = "/api/report.php";
} // namespace Endpoint

// What the account endpoints answer for any status other than 200, whatever the service sent.
inline constexpr char kFailureEnvelope[] =
    R"({"status":"error","message":"Failed to connect to API."})";

// Full address of a service path.
QString serviceUrl(const QString& path);

// Form encoding of one value: only ASCII letters and digits pass, a blank becomes "+", every
// other character becomes "%" and the last two hex digits of its code-page value.
QString UrlEncode(const QString& text);

// Percent-encoding of a value put into a GET address, so that "&" or "#" in an API key or a
// company name reaches the service whole.
QString QueryValue(const QString& value);

// Status-tested GET: the body for 200, otherwise "Error: " + status. Throws TransportError.
QString ServiceGet(const QString& url);

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

// Profile look-ups: the service's bare answer text, untouched (UTF-8, or Windows-1252 when the
// bytes are not UTF-8). Throw TransportError, also for an answer that is no value: a status
// other than 200 whose body is not one of the look-ups' own "Error..." or "DeviceName not found"
// texts, or control characters other than tabs and line breaks.
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
// The form bodies, exposed so that their exact bytes can be checked.
QByteArray RegisterCompanyBody(const QString& companyName, const QString& connStr,
                               const QString& telp, const QString& deviceName);
QByteArray EditCompanyBody(const QString& apiKey, const QString& companyName,
                           const QString& connStr, const QString& telp, const QString& deviceName,
                           const QString& appHide);
