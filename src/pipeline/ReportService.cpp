// Poll, upload and flag requests.
#include "ReportService.h"

#include "ReportRequest.h"
#include "service/ServiceClient.h"

Q_LOGGING_CATEGORY(lcPipeline, "tallyframe.pipeline")

namespace {

QString pollUrl(const ServiceClient& service, const QString& companyName)
{
    QString url = service.url(QLatin1String(Endpoint::ReportRequest));
    // Encoded, so that a name with "&", "#" or blanks reaches the service whole.
    if (!companyName.isEmpty())
        url += QStringLiteral("?companyName=") + QueryValue(companyName);
    return url;
}

} // namespace

QString TextBoxView(const QString& text)
{
    if (text.size() <= kShownLineChars)
        return text;
    QString shown;
    qsizetype lines = 0;
    for (qsizetype start = 0; start <= text.size(); ++lines) {
        qsizetype end = text.indexOf(QLatin1Char('\n'), start);
        if (end < 0)
            end = text.size();
        if (lines == kShownLines) {
            shown += QStringLiteral("[…]");
            break;
        }
        const qsizetype length = end - start;
        qsizetype kept = std::min(length, kShownLineChars);
        if (kept < length && text.at(start + kept - 1).isHighSurrogate())
            --kept; // never half a character
        shown += QStringView(text).mid(start, kept);
        if (length > kShownLineChars)
            shown += QStringLiteral("[…]");
        if (end < text.size())
            shown += QLatin1Char('\n');
        start = end + 1;
    }
    return shown;
}

QString PollReportRequest(ServiceClient& service, const QString& companyName)
{
    return NormalizeLineEnds(service.get(pollUrl(service, companyName)).text());
}

QByteArray UpdateFlagBody(qint32 urut, const QString& flag)
{
    return (QStringLiteral("Flag=") + flag + QStringLiteral("&Urut=") + QString::number(urut) +
            QStringLiteral("&updateDtModified=1"))
        .toUtf8();
}

QString UpdateFlag(ServiceClient& service, qint32 urut, const QString& flag)
{
    const TransportReply reply =
        service.post(service.url(QLatin1String(Endpoint::UpdateFlag)),
                     "application/x-www-form-urlencoded", UpdateFlagBody(urut, flag));
    if (reply.status == 200)
        return QStringLiteral("Response: ") + reply.text();
    return QStringLiteral("Failed to update. HTTP Status: ") + QString::number(reply.status);
}

TransportReply UploadReport(ServiceClient& service, QIODevice* document, qint64 size)
{
    return service.postDevice(service.url(QLatin1String(Endpoint::SaveJson)), "application/json",
                              document, size);
}
