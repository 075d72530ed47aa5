// Reading report values for people.
#include "ReportView.h"

#include <QDate>
#include <QLocale>
#include <QRegularExpression>
#include <algorithm>

namespace ReportView {

namespace {

const QRegularExpression& datePattern()
{
    static const QRegularExpression pattern(QStringLiteral(
        "^(\\d{4})-(\\d{2})-(\\d{2})(?:[ T](\\d{2}):(\\d{2})(?::(\\d{2})(?:\\.\\d+)?)?)?$"));
    return pattern;
}

double numberValue(QStringView value)
{
    QString text = value.toString();
    text.replace(QLatin1Char(','), QLatin1Char('.'));
    return text.toDouble();
}

} // namespace

bool isPlainNumber(QStringView value)
{
    qsizetype i = 0;
    if (!value.isEmpty() && (value[0] == u'-' || value[0] == u'+'))
        ++i;
    const qsizetype intStart = i;
    while (i < value.size() && value[i].isDigit() && value[i].unicode() < 128)
        ++i;
    const qsizetype intDigits = i - intStart;
    if (intDigits == 0 || (intDigits > 1 && value[intStart] == u'0'))
        return false;
    if (i == value.size())
        return true;
    if (value[i] != u'.' && value[i] != u',')
        return false;
    const qsizetype fracStart = ++i;
    while (i < value.size() && value[i].isDigit() && value[i].unicode() < 128)
        ++i;
    return i == value.size() && i > fracStart;
}

QString numberText(QStringView value)
{
    if (!isPlainNumber(value))
        return value.toString();
    QString out;
    qsizetype i = 0;
    if (value[0] == u'-')
        out += u'-';
    if (value[0] == u'-' || value[0] == u'+')
        ++i;
    qsizetype end = i;
    while (end < value.size() && value[end] != u'.' && value[end] != u',')
        ++end;
    const QStringView whole = value.sliced(i, end - i);
    for (qsizetype d = 0; d < whole.size(); ++d) {
        if (d > 0 && (whole.size() - d) % 3 == 0)
            out += u'.';
        out += whole[d];
    }
    if (end < value.size())
        out += u',' + value.sliced(end + 1).toString();
    return out;
}

QString dateText(QStringView value)
{
    const QRegularExpressionMatch match = datePattern().match(value);
    if (!match.hasMatch())
        return {};
    const QDate date(match.capturedView(1).toInt(), match.capturedView(2).toInt(),
                     match.capturedView(3).toInt());
    if (!date.isValid())
        return {};
    static const QLocale indonesian(QLocale::Indonesian, QLocale::Indonesia);
    QString text = indonesian.toString(date, QStringLiteral("d MMM yyyy"));
    if (match.hasCaptured(4)) {
        text += u' ' + match.captured(4) + u'.' + match.captured(5);
        if (match.hasCaptured(6) && match.capturedView(6) != u"00")
            text += u'.' + match.captured(6);
    }
    return text;
}

QList<ColumnKind> columnKinds(const ReportDocument& document)
{
    QList<ColumnKind> kinds;
    const qsizetype columns = document.header().size();
    for (qsizetype column = 0; column < columns; ++column) {
        bool numbers = true, dates = true, any = false;
        // A sample decides, so that the first page of a very large report comes quickly; a later
        // value that does not fit is shown as it came.
        const qsizetype sample = qMin<qsizetype>(document.rowCount(), 5000);
        for (qsizetype row = 0; row < sample && (numbers || dates); ++row) {
            const QString value = document.cell(row, column);
            if (value.isEmpty())
                continue;
            any = true;
            numbers = numbers && isPlainNumber(value);
            dates = dates && !dateText(value).isEmpty();
        }
        kinds.append(!any      ? ColumnKind::Text
                     : numbers ? ColumnKind::Number
                     : dates   ? ColumnKind::Date
                               : ColumnKind::Text);
    }
    return kinds;
}

QList<qsizetype> rows(const ReportDocument& document, const QList<ColumnKind>& kinds,
                      const QString& search, int sortColumn, bool descending)
{
    const qsizetype columns = document.header().size();
    QList<qsizetype> picked;
    picked.reserve(document.rowCount());
    for (qsizetype row = 0; row < document.rowCount(); ++row) {
        bool match = search.isEmpty();
        for (qsizetype column = 0; column < columns && !match; ++column)
            match = document.cell(row, column).contains(search, Qt::CaseInsensitive);
        if (match)
            picked.append(row);
    }
    if (sortColumn < 0 || sortColumn >= columns)
        return picked;

    const bool numeric = kinds.value(sortColumn) == ColumnKind::Number;
    struct Key
    {
        qsizetype row;
        QString text;
        double number;
    };
    QList<Key> keys;
    keys.reserve(picked.size());
    for (const qsizetype row : picked) {
        const QString text = document.cell(row, sortColumn);
        keys.append({row, text, numeric ? numberValue(text) : 0.0});
    }
    std::stable_sort(keys.begin(), keys.end(), [&](const Key& a, const Key& b) {
        if (a.text.isEmpty() != b.text.isEmpty())
            return b.text.isEmpty();
        const int order = numeric ? (a.number < b.number   ? -1
                                     : a.number > b.number ? 1
                                                           : 0)
                                  : a.text.compare(b.text, Qt::CaseInsensitive);
        return descending ? order > 0 : order < 0;
    });
    picked.clear();
    for (const Key& key : keys)
        picked.append(key.row);
    return picked;
}

} // namespace ReportView
