// Fuzzes the report document writer: whatever column names, values, title, file name and
// footer it is given, and however the values arrive in pieces, the document must be one line of
// JSON that QJsonDocument reads, with every member in place and every value as it was given
// (a lone surrogate, which UTF-8 cannot carry, read back as U+FFFD).
//
// Input, read as loose UTF-8: records separated by U+001E. Record 0 holds title, file name,
// footer and an option field separated by U+001F (the option's first character picks a write
// buffer of 64 to 575 bytes, 8 KiB without one); record 1 the column names; every further record
// one row of values. U+001D inside a value splits it into the pieces that are handed to the writer
// one by one.
#include "FuzzText.h"

#include "pipeline/ReportJsonWriter.h"

#include <QBuffer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

namespace {

using fuzz::withLoneSurrogatesReplaced;

// The members of an object, read by walking it: Qt 6.4's QJsonObject::value() misses some
// non-ASCII keys of a parsed object that keys() and iteration still show.
QHash<QString, QJsonValue> membersOf(const QJsonObject& object)
{
    QHash<QString, QJsonValue> members;
    for (auto it = object.begin(); it != object.end(); ++it)
        members.insert(it.key(), it.value());
    return members;
}

void checkDocument(const QByteArray& document, const QString& title, const QString& fileName,
                   const QString& footer, const QStringList& header, const QList<QStringList>& rows)
{
    const auto context = [&document] { return fuzz::show(QString::fromUtf8(document)); };
    for (const char byte : document)
        FUZZ_CHECK(uchar(byte) >= 0x20, context()); // one line, no raw control characters

    // Members in their order: the first one tells which of the optional ones lead.
    const char* first = !title.isEmpty()      ? "{\"title\":"
                        : !fileName.isEmpty() ? "{\"fileName\":"
                                              : "{\"header\":";
    FUZZ_CHECK(document.startsWith(first), context());

    QJsonParseError error;
    const QJsonDocument parsed = QJsonDocument::fromJson(document, &error);
    FUZZ_CHECK(error.error == QJsonParseError::NoError && parsed.isObject(),
               error.errorString() + QStringLiteral(" at %1 in ").arg(error.offset) + context());
    const QHash<QString, QJsonValue> object = membersOf(parsed.object());

    QSet<QString> members = {QStringLiteral("header"), QStringLiteral("data")};
    const auto optional = [&](const char* name, const QString& given) {
        if (given.isEmpty()) {
            FUZZ_CHECK(!object.contains(QLatin1String(name)), context());
            return;
        }
        members.insert(QLatin1String(name));
        FUZZ_CHECK(object.value(QLatin1String(name)).toString() ==
                       withLoneSurrogatesReplaced(given),
                   context());
    };
    optional("title", title);
    optional("fileName", fileName);
    optional("footer", footer);
    const QList<QString> keys = object.keys();
    FUZZ_CHECK(QSet<QString>(keys.cbegin(), keys.cend()) == members, context());

    const QJsonArray headerArray = object.value(QLatin1String("header")).toArray();
    FUZZ_CHECK(headerArray.size() == header.size(), context());
    QHash<QString, int> nameCount;
    for (qsizetype i = 0; i < header.size(); ++i) {
        const QString name = withLoneSurrogatesReplaced(header[i]);
        FUZZ_CHECK(headerArray[i].isString() && headerArray[i].toString() == name, context());
        ++nameCount[name];
    }

    const QJsonArray data = object.value(QLatin1String("data")).toArray();
    FUZZ_CHECK(data.size() == rows.size(), context());
    for (qsizetype r = 0; r < rows.size(); ++r) {
        FUZZ_CHECK(data[r].isObject(), context());
        const QHash<QString, QJsonValue> row = membersOf(data[r].toObject());
        // Repeated column names are written as repeated members; a JSON object keeps one of
        // them, so only the names that occur once can be compared value for value.
        FUZZ_CHECK(row.size() == nameCount.size(), context());
        for (qsizetype c = 0; c < header.size(); ++c) {
            const QString name = withLoneSurrogatesReplaced(header[c]);
            FUZZ_CHECK(row.value(name).isString(), context());
            if (nameCount.value(name) == 1)
                FUZZ_CHECK(row.value(name).toString() == withLoneSurrogatesReplaced(rows[r][c]),
                           context() + " row " + QString::number(r) + " column " +
                               fuzz::show(name));
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QList<QString> records = fuzz::fields(fuzz::decodeLoose(data, size), QChar(0x1E));
    const QList<QString> head = fuzz::fields(records.value(0), QChar(0x1F));
    const QString title = head.value(0), fileName = head.value(1), footer = head.value(2);
    const QString option = head.value(3);
    // Small buffers make the writer flush mid-value; the real 1 MiB one would only slow the run.
    const qsizetype pieceSize = option.isEmpty() ? 8192 : 64 + option[0].unicode() % 512;
    const QStringList header =
        records.size() > 1 ? fuzz::fields(records[1], QChar(0x1F)) : QStringList();

    QList<QStringList> rows;          // whole values, for the check
    QList<QList<QStringList>> pieces; // the same values as handed to the writer
    for (qsizetype r = 2; r < records.size(); ++r) {
        const QList<QString> given = fuzz::fields(records[r], QChar(0x1F));
        QStringList row;
        QList<QStringList> rowPieces;
        for (qsizetype c = 0; c < header.size(); ++c) {
            const QStringList parts = fuzz::fields(given.value(c), QChar(0x1D));
            row.append(parts.join(QString()));
            rowPieces.append(parts);
        }
        rows.append(row);
        pieces.append(rowPieces);
    }

    QByteArray document;
    QBuffer buffer(&document);
    buffer.open(QIODevice::WriteOnly);
    ReportSink sink(&buffer, pieceSize);
    JsonReportWriter writer(sink);
    writer.begin(title, fileName, header);
    for (const QList<QStringList>& rowPieces : pieces) {
        writer.beginRow();
        for (qsizetype c = 0; c < rowPieces.size(); ++c) {
            writer.beginValue(int(c));
            for (const QString& part : rowPieces[c])
                writer.appendText(part);
            writer.endValue();
        }
        writer.endRow();
    }
    writer.end(footer);
    FUZZ_CHECK(writer.rows() == rows.size(), QString::number(writer.rows()));
    FUZZ_CHECK(sink.written() == document.size(), QString::number(sink.written()));

    checkDocument(document, title, fileName, footer, header, rows);
    return 0;
}
