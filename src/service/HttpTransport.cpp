// Synchronous HTTP over QNetworkAccessManager. Each call waits in a local event loop that keeps
// painting but takes no user input, so the window never looks hung and never re-enters itself.
#include "HttpTransport.h"

#include "ServiceClient.h"
#include "Wait.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

Q_LOGGING_CATEGORY(lcService, "tallyframe.service")

namespace {

TransportError failureFor(QNetworkReply* reply, bool timedOut, int timeoutMs)
{
    using E = QNetworkReply::NetworkError;
    // A stalled transfer is cancelled by its time-out: for the user, a server that never answered.
    const QString detail =
        timedOut ? QStringLiteral("No answer within %1 ms.").arg(timeoutMs) : reply->errorString();
    switch (timedOut ? E::TimeoutError : reply->error()) {
    case E::HostNotFoundError:
    case E::ConnectionRefusedError:
    case E::RemoteHostClosedError:
    case E::TimeoutError:
    case E::TemporaryNetworkFailureError:
    case E::NetworkSessionFailedError:
    case E::ProxyConnectionRefusedError:
    case E::ProxyConnectionClosedError:
    case E::ProxyNotFoundError:
    case E::ProxyTimeoutError:
    case E::UnknownNetworkError:
    case E::UnknownProxyError:
        return TransportError(HttpTransport::Unreachable,
                              QStringLiteral("The system cannot locate the resource specified. ") +
                                  detail);
    case E::SslHandshakeFailedError:
        return TransportError(HttpTransport::SecurityProblem,
                              QStringLiteral("A security problem occurred. ") + detail);
    case E::ProtocolUnknownError:
    case E::ProtocolInvalidOperationError:
        return TransportError(HttpTransport::InvalidUrl,
                              QStringLiteral("The URL is invalid. ") + detail);
    case E::ProtocolFailure:
        return TransportError(HttpTransport::DownloadFailed,
                              QStringLiteral("The download failed. ") + detail);
    default:
        return TransportError(HttpTransport::Unspecified,
                              QStringLiteral("Unspecified error. ") + detail);
    }
}

// Logs the failure with the address it concerns, lets the reply go and throws.
[[noreturn]] void fail(QNetworkReply* reply, const TransportError& failure)
{
    qCWarning(lcService) << "request failed:" << reply->request().url().toDisplayString()
                         << failure.number() << failure.description();
    reply->deleteLater();
    throw failure;
}

} // namespace

TransportReply ServiceClient::wait(QNetworkReply* reply)
{
    // The body is taken as it arrives, so that an answer without end is stopped at the cap
    // instead of filling memory; abort() also closes the connection.
    QByteArray body;
    bool tooLarge = false;
    const auto take = [&] {
        if (tooLarge || !reply->isOpen())
            return;
        const QVariant announced = reply->header(QNetworkRequest::ContentLengthHeader);
        if (body.size() + reply->bytesAvailable() > HttpTransport::kMaxAnswerBytes ||
            (announced.isValid() && announced.toLongLong() > HttpTransport::kMaxAnswerBytes)) {
            tooLarge = true;
            reply->abort();
            return;
        }
        body += reply->readAll();
    };
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, take);
    QObject::connect(reply, &QNetworkReply::readyRead, reply, take);

    ++m_busy;
    if (!reply->isFinished())
        WaitFor(reply, &QNetworkReply::finished);
    --m_busy;
    take();
    if (tooLarge)
        fail(reply, TransportError(HttpTransport::DownloadFailed,
                                   QStringLiteral("The download failed. The answer is larger than "
                                                  "%1 MiB.")
                                       .arg(HttpTransport::kMaxAnswerBytes >> 20)));
    // The transfer time-out is the only other thing that cancels a request of ours.
    const bool timedOut = reply->error() == QNetworkReply::OperationCanceledError;

    // An error below 100 is a network-level failure: even with a status line received, the body
    // is incomplete and must not be taken for an answer.
    const bool networkLevel = reply->error() != QNetworkReply::NoError && reply->error() < 100;
    const QVariant statusAttr = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (timedOut || !statusAttr.isValid() || networkLevel)
        fail(reply, failureFor(reply, timedOut, m_settings.timeoutMs));
    TransportReply result;
    result.status = statusAttr.toInt();
    result.body = std::move(body);
    // A connection that closes early can end a reply "successfully": an answer shorter than it
    // announced is a broken transfer, not a shorter answer.
    const QVariant announced = reply->header(QNetworkRequest::ContentLengthHeader);
    const bool compressed = !reply->rawHeader("Content-Encoding").isEmpty();
    if (announced.isValid() && !compressed && result.body.size() < announced.toLongLong())
        fail(reply, TransportError(HttpTransport::DownloadFailed,
                                   QStringLiteral("The download failed. The answer broke off "
                                                  "after %1 of %2 bytes.")
                                       .arg(result.body.size())
                                       .arg(announced.toLongLong())));
    reply->deleteLater();
    return result;
}

namespace {

QNetworkRequest makeRequest(const QString& url, int timeoutMs)
{
    QNetworkRequest request{QUrl(url, QUrl::StrictMode)};
    // Every call asks afresh: nothing is cached between two polls.
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    // Measured from the last byte that moved, so a large upload is not cut off while it flows.
    request.setTransferTimeout(timeoutMs);
    return request;
}

// A POST never follows a redirect: followed, it turns into a GET whose 200 passes for "stored"
// although nothing was. The 3xx comes back as the answer, a status like any other failure.
QNetworkRequest makePostRequest(const QString& url, int timeoutMs, const QByteArray& contentType)
{
    QNetworkRequest request = makeRequest(url, timeoutMs);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    request.setHeader(QNetworkRequest::ContentTypeHeader, contentType);
    return request;
}

void checkUrl(const QString& url)
{
    // Only HTTP is spoken: another scheme is not even looked up (the system's proxy settings).
    const QUrl parsed(url, QUrl::StrictMode);
    const QString scheme = parsed.scheme().toLower();
    if (!parsed.isValid() || parsed.host().isEmpty() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        throw TransportError(HttpTransport::InvalidUrl,
                             QStringLiteral("The URL is invalid. ") + url);
}

} // namespace

QNetworkAccessManager& ServiceClient::manager()
{
    // Made on the first call, so that it belongs to the thread that makes the calls.
    if (!m_manager)
        m_manager = std::make_unique<QNetworkAccessManager>();
    return *m_manager;
}

void ServiceClient::setProxy(const QNetworkProxy& proxy)
{
    manager().setProxy(proxy);
}

TransportReply ServiceClient::get(const QString& url)
{
    checkUrl(url);
    return wait(manager().get(makeRequest(url, m_settings.timeoutMs)));
}

TransportReply ServiceClient::post(const QString& url, const QByteArray& contentType,
                                   const QByteArray& body)
{
    checkUrl(url);
    return wait(manager().post(makePostRequest(url, m_settings.timeoutMs, contentType), body));
}

TransportReply ServiceClient::postDevice(const QString& url, const QByteArray& contentType,
                                         QIODevice* body, qint64 size)
{
    checkUrl(url);
    QNetworkRequest request = makePostRequest(url, m_settings.timeoutMs, contentType);
    request.setHeader(QNetworkRequest::ContentLengthHeader, size);
    return wait(manager().post(request, body));
}
