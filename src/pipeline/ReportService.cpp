// Poll, upload and flag requests.
#include "ReportService.h"

#include "ReportRequest.h"
#include "service/ServiceClient.h"

Q_LOGGING_CATEGORY(lcPipeline, "tallyframe.pipeline")

QString TextBoxView(const QString& text)
{
    if (text.size() <= kShownLineChars)
        return text;
    QString shown;
    qsizetype lines = 0;
    for (const QStringView line : QStringView(text).tokenize(u'\n')) {
        if (lines > 0)
            shown += QLatin1Char('\n');
        if (lines++ == kShownLines) {
            shown += QStringLiteral("[…]");
            break;
        }
        qsizetype kept = std::min(line.size(), kShownLineChars);
        if (kept < line.size() && line[kept - 1].isHighSurrogate())
            --kept; // never half a character
        shown += line.left(kept);
        if (line.size() > kShownLineChars)
            shown += QStringLiteral("[…]");
    }
    return shown;
}

QString PollReportRequest(ServiceClient& service, const QString& companyName)
{
    QString url = service.url(QLatin1String(Endpoint::ReportRequest));
    // Encoded, so that a name with "&", "#" or blanks reaches the service whole.
    if (!companyName.isEmpty())
        url += QStringLiteral("?companyName=") + QueryValue(companyName);
    return NormalizeLineEnds(service.get(url).text());
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
