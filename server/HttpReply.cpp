// Writing an HttpReply through Qt HttpServer.
#include "HttpReply.h"

#include <QHttpServerResponder>
#include <QHttpServerResponse>

HttpReply HttpReply::text(const QString& text, int status)
{
    HttpReply reply;
    reply.status = status;
    reply.body = text.toUtf8();
    return reply;
}

HttpReply HttpReply::html(const QString& html, int status)
{
    HttpReply reply;
    reply.status = status;
    reply.contentType = "text/html; charset=utf-8";
    reply.body = html.toUtf8();
    // Pages take scripts and styles only from this server: a value that slipped through escaping
    // still could not run.
    reply.headers = {
        {"Content-Security-Policy", "default-src 'self'; script-src 'self'; style-src 'self'; "
                                    "img-src 'self' data:; form-action 'self'; "
                                    "frame-ancestors 'none'"},
        {"X-Content-Type-Options", "nosniff"},
        // Forms post to their own origin with Origin and Referer intact; other sites learn nothing.
        {"Referrer-Policy", "same-origin"},
        {"Cache-Control", "no-store"},
    };
    return reply;
}

HttpReply HttpReply::redirect(const QByteArray& location)
{
    HttpReply reply;
    reply.status = 303;
    reply.headers = {{"Location", location}, {"Cache-Control", "no-store"}};
    return reply;
}

HttpReply& HttpReply::withHeader(const QByteArray& name, const QByteArray& value)
{
    headers.append({name, value});
    return *this;
}

void HttpReply::send(QHttpServerResponder&& responder) const
{
    QHttpServerResponse response(contentType, body,
                                 static_cast<QHttpServerResponder::StatusCode>(status));
    for (const auto& [name, value] : headers)
        response.addHeader(name, value);
    response.write(std::move(responder));
}
