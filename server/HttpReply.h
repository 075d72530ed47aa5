// One HTTP answer of the reporting service, built by a handler before it is written, so that the
// fault mode can delay, cut or replace it on its way out.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <utility>

class QHttpServerResponder;

struct HttpReply
{
    int status = 200;
    QByteArray contentType = "text/plain; charset=utf-8";
    QByteArray body;
    QList<std::pair<QByteArray, QByteArray>> headers;

    static HttpReply text(const QString& text, int status = 200);
    static HttpReply html(const QString& html, int status = 200);
    static HttpReply redirect(const QByteArray& location);

    HttpReply& withHeader(const QByteArray& name, const QByteArray& value);
    void send(QHttpServerResponder&& responder) const;
};
