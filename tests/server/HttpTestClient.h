// Synchronous HTTP for the service tests. The service runs in the test's own thread, so waiting
// in a local event loop is what lets it answer. Cookies are only what a test sends itself.
#pragma once

#include <QElapsedTimer>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

struct HttpResult
{
    int status = 0;
    QByteArray body;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QList<QNetworkReply::RawHeaderPair> headers;
    qint64 elapsedMs = 0;

    QByteArray header(const QByteArray& name) const
    {
        for (const auto& [key, value] : headers) {
            if (key.compare(name, Qt::CaseInsensitive) == 0)
                return value;
        }
        return {};
    }
    // "tf_session=abc" out of a Set-Cookie header, ready to be sent back.
    QByteArray sessionCookie() const { return header("Set-Cookie").split(';').value(0); }
};

class HttpTestClient
{
public:
    explicit HttpTestClient(const QString& baseUrl) : m_base(baseUrl) {}

    HttpResult get(const QString& pathAndQuery, const QByteArray& cookie = {}, int timeoutMs = 5000)
    {
        return send("GET", pathAndQuery, {}, {}, cookie, timeoutMs);
    }
    HttpResult post(const QString& path, const QByteArray& body,
                    const QByteArray& contentType = "application/x-www-form-urlencoded",
                    const QByteArray& cookie = {}, int timeoutMs = 5000)
    {
        return send("POST", path, body, contentType, cookie, timeoutMs);
    }

    HttpResult send(const QByteArray& verb, const QString& pathAndQuery, const QByteArray& body,
                    const QByteArray& contentType, const QByteArray& cookie, int timeoutMs)
    {
        QNetworkRequest request(QUrl(m_base + pathAndQuery));
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                             QNetworkRequest::ManualRedirectPolicy);
        request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
        request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
        request.setTransferTimeout(timeoutMs);
        if (!contentType.isEmpty())
            request.setHeader(QNetworkRequest::ContentTypeHeader, contentType);
        if (!cookie.isEmpty())
            request.setRawHeader("Cookie", cookie);
        QElapsedTimer clock;
        clock.start();
        QNetworkReply* reply = m_manager.sendCustomRequest(request, verb, body);
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
        HttpResult result;
        result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        result.body = reply->readAll();
        result.error = reply->error();
        result.headers = reply->rawHeaderPairs();
        result.elapsedMs = clock.elapsed();
        reply->deleteLater();
        return result;
    }

private:
    QNetworkAccessManager m_manager;
    QString m_base;
};
