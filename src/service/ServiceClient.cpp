// Addresses, form encoding, the response envelope, the look-ups and the account endpoints.
#include "ServiceClient.h"

#include "BuildInfo.h"

#include <QNetworkAccessManager>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QUrl>

#include <algorithm>

namespace {

// A host named at build time, or the environment's override: scheme, host, optional port.
QString fromEnvOr(const char* name, const QString& fallback)
{
    QString value = qEnvironmentVariable(name).trimmed();
    while (value.endsWith(QLatin1Char('/')))
        value.chop(1);
    return value.isEmpty() ? fallback : value;
}

// Windows-1252's characters for the bytes 0x80 to 0x9F. The five bytes the code page leaves
// undefined stand for the control characters of the same value, as Windows decodes them.
constexpr char16_t kWindows1252High[] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// The value of one character in the code page used for non-Unicode text: the system's ANSI
// code page on Windows, Windows-1252 elsewhere (what the service has always received).
int codePageValue(char32_t cp)
{
#ifdef Q_OS_WIN
    QStringEncoder encoder(QStringConverter::System, QStringConverter::Flag::Stateless);
    const QString character = QString::fromUcs4(&cp, 1);
    const QByteArray bytes = encoder.encode(character);
    // The system's conversion maps a character the code page lacks to a look-alike ("best
    // fit": a macron a becomes a): only a value that converts back to it is its own.
    if (encoder.hasError() || bytes.isEmpty() ||
        QString(QStringDecoder(QStringConverter::System).decode(bytes)) != character)
        return '?';
    int value = 0;
    for (const char b : bytes)
        value = (value << 8) | static_cast<unsigned char>(b);
    return value;
#else
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF))
        return int(cp);
    // Only above Latin-1: the control characters of the undefined bytes are not in the code page.
    const auto* const end = std::end(kWindows1252High);
    const auto* const found = cp > 0xFF ? std::find(std::begin(kWindows1252High), end, cp) : end;
    return found == end ? '?' : int(0x80 + (found - std::begin(kWindows1252High)));
#endif
}

// UTF-8 when the bytes are valid UTF-8; otherwise the code page the agent itself sends its
// forms in, which decodes any byte, so no answer is refused for its encoding.
QString decodeAnswer(const QByteArray& body)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(body);
    if (!utf8.hasError())
        return text;
    QString decoded;
    decoded.reserve(body.size());
    for (const char byte : body) {
        const auto value = static_cast<unsigned char>(byte);
        decoded +=
            value >= 0x80 && value < 0xA0 ? QChar(kWindows1252High[value - 0x80]) : QChar(value);
    }
    return decoded;
}

// No service writes control characters into a value, other than tabs and line breaks, nor the
// bytes Windows-1252 leaves undefined: an answer with them is noise on the line, not a value
// (taken as the company name, it had the agent poll for a company that does not exist).
bool isText(const QString& text)
{
    return std::none_of(text.cbegin(), text.cend(), [](QChar c) {
        const char16_t u = c.unicode();
        return (u < 0x20 && u != u'\t' && u != u'\r' && u != u'\n') || (u >= 0x7F && u < 0xA0);
    });
}

// The texts with which the look-ups themselves say no; a service may send them with any status.
bool isProtocolText(const QString& text)
{
    return text.startsWith(QLatin1String("Error")) ||
           text.contains(QLatin1String("DeviceName not found"), Qt::CaseInsensitive);
}

} // namespace

ServiceSettings ServiceSettings::fromEnvironment()
{
    bool ok = false;
    const int timeoutMs = qEnvironmentVariableIntValue("TALLYFRAME_HTTP_TIMEOUT_MS", &ok);
    return {fromEnvOr("TALLYFRAME_SERVICE_URL", QStringLiteral("https://" TALLYFRAME_SERVICE_HOST)),
            ok && timeoutMs > 0 ? timeoutMs : 30000,
            fromEnvOr("TALLYFRAME_WEB_URL", QStringLiteral("https://" TALLYFRAME_WEB_HOST))};
}

ServiceClient::ServiceClient(ServiceSettings settings) : m_settings(std::move(settings)) {}
ServiceClient::~ServiceClient() = default;
ServiceClient::ServiceClient(ServiceClient&&) noexcept = default;
ServiceClient& ServiceClient::operator=(ServiceClient&&) noexcept = default;

QString ServiceClient::hostDisplay() const
{
    const QUrl url(m_settings.baseUrl);
    return url.port() > 0 ? url.host() + QLatin1Char(':') + QString::number(url.port())
                          : url.host();
}

// A look-up's answer is taken as the value itself, so an answer that is none (an error page,
// noise) must fail like a lost answer: taken as a value, an error page became the company name and
// the agent polled for a company that does not exist until restarted.
QString ServiceClient::lookupGet(const char* path, const QString& deviceName, const QString* apiKey)
{
    QString address = url(QLatin1String(path));
    if (!deviceName.isEmpty()) {
        address += QStringLiteral("?DeviceName=") + QueryValue(deviceName);
        if (apiKey)
            address += QStringLiteral("&APIKey=") + QueryValue(*apiKey);
    }
    const TransportReply reply = get(address);
    const QString text = decodeAnswer(reply.body);
    if (reply.status != 200 && !isProtocolText(text))
        throw TransportError(
            HttpTransport::DownloadFailed,
            QStringLiteral("The service answered with HTTP status %1.").arg(reply.status));
    if (!isText(text))
        throw TransportError(HttpTransport::DownloadFailed,
                             QStringLiteral("The service's answer is not text."));
    return text;
}

QString ServiceClient::statusTestedPost(const char* path, const QByteArray& body)
{
    const TransportReply reply =
        post(url(QLatin1String(path)), "application/x-www-form-urlencoded", body);
    if (reply.status != 200)
        return QString::fromLatin1(kFailureEnvelope);
    return reply.text();
}

QString UrlEncode(const QString& text)
{
    QString out;
    out.reserve(text.size() * 3);
    for (const char32_t cp : text.toUcs4()) {
        const int value = codePageValue(cp);
        if (value < 0x80 && QChar::isLetterOrNumber(char32_t(value))) {
            out += QChar(value);
        } else if (value == ' ') {
            out += QLatin1Char('+');
        } else {
            out += QLatin1Char('%');
            out += QStringLiteral("%1").arg(value & 0xFF, 2, 16, QLatin1Char('0')).toUpper();
        }
    }
    return out;
}

QString QueryValue(const QString& value)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(value));
}

QString ServiceClient::ServiceGet(const QString& url)
{
    const TransportReply reply = get(url);
    if (reply.status != 200)
        return QStringLiteral("Error: ") + QString::number(reply.status);
    return reply.text();
}

QString TrimEnvelopeEnd(const QString& response)
{
    return response.endsWith(QLatin1String("\"}")) ? response.chopped(2) : response;
}

std::optional<QString> EnvelopeField(const QString& trimmed, const QString& name)
{
    const QString marker = QLatin1Char('"') + name + QStringLiteral("\":\"");
    const qsizetype start = trimmed.indexOf(marker, 0, Qt::CaseInsensitive);
    if (start < 0)
        return std::nullopt;
    const qsizetype valueStart = start + marker.size();
    const qsizetype end = trimmed.indexOf(QLatin1String("\","), valueStart);
    return end < 0 ? trimmed.mid(valueStart) : trimmed.mid(valueStart, end - valueStart);
}

AccountAnswer ReadAccountAnswer(const QString& response)
{
    const QString trimmed = TrimEnvelopeEnd(response);
    const auto field = [&trimmed](const QString& name) { return EnvelopeField(trimmed, name); };
    return {field(QStringLiteral("message")).value_or(QString()),
            field(QStringLiteral("companyName")).value_or(QString()),
            field(QStringLiteral("api_key")),
            field(QStringLiteral("telp")),
            field(QStringLiteral("status"))
                .value_or(QString())
                .contains(QLatin1String("error"), Qt::CaseInsensitive),
            trimmed.contains(QLatin1String("\"error\""), Qt::CaseInsensitive),
            trimmed.contains(QLatin1String("\"success\""))};
}

QString ServiceClient::GetApiKey(const QString& deviceName)
{
    return lookupGet(Endpoint::ApiKey, deviceName, nullptr);
}

QString ServiceClient::GetCompanyName(const QString& deviceName)
{
    return lookupGet(Endpoint::CompanyName, deviceName, nullptr);
}

QString ServiceClient::GetTelp(const QString& deviceName, const QString& apiKey)
{
    return lookupGet(Endpoint::Telp, deviceName, &apiKey);
}

QString ServiceClient::GetConnectionString(const QString& deviceName, const QString& apiKey)
{
    return lookupGet(Endpoint::ConnectionString, deviceName, &apiKey);
}

QString ServiceClient::GetAppHide(const QString& deviceName, const QString& apiKey)
{
    return lookupGet(Endpoint::AppHide, deviceName, &apiKey);
}

QByteArray RegisterCompanyBody(const QString& companyName, const QString& connStr,
                               const QString& telp, const QString& deviceName)
{
    const QString body = QStringLiteral("CompanyName=") + UrlEncode(companyName) +
                         QStringLiteral("&ConnStr=") + UrlEncode(connStr) +
                         QStringLiteral("&Telp=") + UrlEncode(telp) +
                         QStringLiteral("&DeviceName=") + UrlEncode(deviceName);
    return body.toLatin1();
}

QByteArray EditCompanyBody(const QString& apiKey, const QString& companyName,
                           const QString& connStr, const QString& telp, const QString& deviceName,
                           const QString& appHide)
{
    QString body = QStringLiteral("APIKey=") + UrlEncode(apiKey);
    const std::pair<const char*, const QString*> optional[] = {
        {"CompanyName", &companyName}, {"ConnStr", &connStr}, {"Telp", &telp},
        {"DeviceName", &deviceName},   {"AppHide", &appHide},
    };
    for (const auto& [key, value] : optional) {
        if (!value->isEmpty())
            body += QLatin1Char('&') + QLatin1String(key) + QLatin1Char('=') + UrlEncode(*value);
    }
    return body.toLatin1();
}

QString ServiceClient::RegisterCompany(const QString& companyName, const QString& connStr,
                                       const QString& telp, const QString& deviceName)
{
    return statusTestedPost(Endpoint::RegisterCompany,
                            RegisterCompanyBody(companyName, connStr, telp, deviceName));
}

QString ServiceClient::EditCompany(const QString& apiKey, const QString& companyName,
                                   const QString& connStr, const QString& telp,
                                   const QString& deviceName, const QString& appHide)
{
    return statusTestedPost(Endpoint::EditCompany, EditCompanyBody(apiKey, companyName, connStr,
                                                                   telp, deviceName, appHide));
}
