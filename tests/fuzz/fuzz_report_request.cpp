// Fuzzes the reading of report-request replies: any text is read without a crash, line ends
// are normalised consistently, and a request the service writes from arbitrary values reads
// back as exactly those values.
#include "FuzzText.h"

#include "pipeline/ReportRequest.h"

#include <QStringList>

namespace {

const QString kSeparator = QStringLiteral("\r\n\r\n");

void checkNormalisation(const QString& text)
{
    const QString normal = NormalizeLineEnds(text);
    FUZZ_CHECK(NormalizeLineEnds(normal) == normal, fuzz::show(text));
    // Only carriage returns are added, and only before a line feed that lacked one.
    FUZZ_CHECK(QString(normal).remove(QLatin1Char('\r')) == QString(text).remove(QLatin1Char('\r')),
               fuzz::show(text));
    for (qsizetype i = 0; i < normal.size(); ++i) {
        if (normal[i] == QLatin1Char('\n'))
            FUZZ_CHECK(i > 0 && normal[i - 1] == QLatin1Char('\r'), fuzz::show(text));
    }
}

void checkAnyText(const QString& text)
{
    for (const QString& candidate : {text, NormalizeLineEnds(text)}) {
        const ParsedRequest parsed = ParseReportRequest(candidate);
        FUZZ_CHECK((parsed.status == ParsedRequest::NotARequest) !=
                       candidate.startsWith(QLatin1String("Urut:")),
                   fuzz::show(candidate));
        FUZZ_CHECK(parsed.status != ParsedRequest::Malformed || !parsed.problem.isEmpty(),
                   fuzz::show(candidate));
        if (parsed.status == ParsedRequest::Ok) {
            // Every value is a tail of its block, so none can hold the block separator.
            const ReportRequest& r = parsed.request;
            for (const QString* value : {&r.FileName, &r.Sql, &r.Title})
                FUZZ_CHECK(!value->contains(kSeparator), fuzz::show(candidate));
        }
    }
}

// A value the service can carry in a block: it must not contain an empty line, and must not
// end in a line break (which would join the separator that follows it).
bool fitsInBlock(const QString& normalValue, bool lastBlock)
{
    if (normalValue.contains(kSeparator))
        return false;
    if (lastBlock)
        return true;
    return !normalValue.endsWith(QLatin1Char('\r')) && !normalValue.endsWith(QLatin1Char('\n'));
}

// The input's fields, separated by U+001F, become the values of a request written as the
// service writes it (bare LF, its own labels); the agent must read the same values back.
void checkRoundTrip(const QString& text)
{
    const QList<QString> f = fuzz::fields(text, QChar(0x1F));
    if (f.size() < 4)
        return;
    bool isNumber = false;
    const qint32 urut = f[0].toInt(&isNumber);
    if (!isNumber)
        return;
    const QString fileName = NormalizeLineEnds(f[1]);
    const QString sql = NormalizeLineEnds(f[2]);
    const QString title = NormalizeLineEnds(f[3]);
    // A line feed right after a value's carriage return would merge with the separator.
    if (!fitsInBlock(fileName, false) || !fitsInBlock(sql, false) || !fitsInBlock(title, true))
        return;
    const QString reply = QStringLiteral("Urut:") + QString::number(urut) +
                          QStringLiteral("\n\nFileName:") + f[1] + QStringLiteral("\n\nSQLstr:") +
                          f[2] + QStringLiteral("\n\nRptTitle: ") + f[3];
    const ParsedRequest parsed = ParseReportRequest(NormalizeLineEnds(reply));
    FUZZ_CHECK(parsed.status == ParsedRequest::Ok, fuzz::show(reply) + " " + parsed.problem);
    FUZZ_CHECK(parsed.request.Urut == urut, fuzz::show(reply));
    FUZZ_CHECK(parsed.request.FileName == fileName,
               fuzz::show(reply) + " -> " + fuzz::show(parsed.request.FileName));
    FUZZ_CHECK(parsed.request.Sql == sql,
               fuzz::show(reply) + " -> " + fuzz::show(parsed.request.Sql));
    FUZZ_CHECK(parsed.request.Title == title,
               fuzz::show(reply) + " -> " + fuzz::show(parsed.request.Title));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = fuzz::decodeLoose(data, size);
    checkNormalisation(text);
    checkAnyText(text);
    checkRoundTrip(text);
    return 0;
}
