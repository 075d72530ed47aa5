// Reading report requests.
#include "ReportRequest.h"

#include <QStringList>

QString NormalizeLineEnds(const QString& text)
{
    // Every CR LF made a bare LF first, so that each LF then takes exactly one CR.
    return QString(text)
        .replace(QLatin1String("\r\n"), QLatin1String("\n"))
        .replace(u'\n', QLatin1String("\r\n"));
}

ParsedRequest ParseReportRequest(const QString& text)
{
    ParsedRequest parsed;
    if (!text.startsWith(QLatin1String("Urut:"), Qt::CaseSensitive))
        return parsed;
    parsed.status = ParsedRequest::Malformed;

    const QStringList blocks = text.split(QStringLiteral("\r\n\r\n"));
    if (blocks.size() < 4) {
        parsed.problem = QStringLiteral("hanya %1 dari 4 blok").arg(blocks.size());
        return parsed;
    }

    // Blanks around the number are tolerated, anything else is not: a request whose number
    // cannot be read could never be flagged done.
    bool ok = false;
    const qint32 urut = blocks[0].mid(5).trimmed().toInt(&ok, 10);
    if (!ok) {
        parsed.problem = QStringLiteral("tidak ada bilangan bulat setelah \"Urut:\"");
        return parsed;
    }

    parsed.status = ParsedRequest::Ok;
    parsed.request.Urut = urut;
    // A block no longer than its label holds the empty value.
    parsed.request.FileName = blocks[1].mid(9);
    parsed.request.Sql = blocks[2].mid(7);
    parsed.request.Title = blocks[3].mid(10);
    return parsed;
}
