// Fetching through the statement handle.
#include "OdbcReportReader.h"

#include "OdbcConnection.h"
#include "ReportJsonWriter.h"

#include <QSqlQuery>
#include <QSqlRecord>
#include <QSqlResult>

#include <sql.h>
#include <sqlext.h>

#include <charconv>
#include <cstdio>

#ifndef Q_OS_WIN
#include <langinfo.h>
#endif

namespace {

OdbcReportReader::Kind kindOf(SQLSMALLINT sqlType, const QString& typeName)
{
    using K = OdbcReportReader::Kind;
    switch (sqlType) {
    case SQL_DOUBLE:
    case SQL_FLOAT:
        return K::Double;
    case SQL_REAL:
        return K::Single;
    case SQL_TYPE_DATE:
    case SQL_DATE:
        return K::Date;
    case SQL_TYPE_TIME:
    case SQL_TIME:
        return K::Time;
    case SQL_TYPE_TIMESTAMP:
    case SQL_TIMESTAMP:
        return K::Timestamp;
    case SQL_BIT:
        return K::Bit;
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER:
    case SQL_BIGINT:
    case SQL_DECIMAL:
    case SQL_NUMERIC:
        return K::Number;
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY:
        return K::Binary;
    default:
        break;
    }
    // Some drivers hand booleans over as text unless told otherwise; their type name says.
    const QString name = typeName.toLower();
    if (name == QLatin1String("bool") || name == QLatin1String("boolean"))
        return K::BoolText;
    return K::Text;
}

template <typename T> void appendShortest(JsonReportWriter& writer, T value)
{
    char buffer[40];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    writer.appendPlain(buffer, result.ptr - buffer);
}

void appendNumber(char*& out, unsigned value, int digits)
{
    for (int i = digits - 1; i >= 0; --i) {
        out[i] = char('0' + value % 10);
        value /= 10;
    }
    out += digits;
}

void appendYear(char*& out, SQLSMALLINT year)
{
    if (year < 0) {
        *out++ = '-';
        year = SQLSMALLINT(-year);
    }
    appendNumber(out, unsigned(year), year > 9999 ? 5 : 4);
}

void appendDate(char*& out, SQLSMALLINT year, SQLUSMALLINT month, SQLUSMALLINT day)
{
    appendYear(out, year);
    *out++ = '-';
    appendNumber(out, month, 2);
    *out++ = '-';
    appendNumber(out, day, 2);
}

void appendTime(char*& out, SQLUSMALLINT hour, SQLUSMALLINT minute, SQLUSMALLINT second)
{
    appendNumber(out, hour, 2);
    *out++ = ':';
    appendNumber(out, minute, 2);
    *out++ = ':';
    appendNumber(out, second, 2);
}

} // namespace

OdbcReportReader::OdbcReportReader(QSqlQuery& executed)
{
    const QSqlResult* result = executed.result();
    const QVariant handle = result ? result->handle() : QVariant();
    if (!handle.isValid() || handle.metaType().sizeOf() != sizeof(SQLHANDLE))
        throw DbError(DbError::kDriverError,
                      QStringLiteral("The query has no ODBC statement to read from."));
    std::memcpy(&m_stmt, handle.constData(), sizeof(SQLHANDLE));
    if (!m_stmt)
        throw DbError(DbError::kDriverError,
                      QStringLiteral("The query has no ODBC statement to read from."));

    const QSqlRecord record = executed.record();
    SQLSMALLINT columns = 0;
    if (!SQL_SUCCEEDED(SQLNumResultCols(m_stmt, &columns)))
        fail("SQLNumResultCols");
    for (SQLUSMALLINT i = 1; i <= columns; ++i) {
        // The concise type attribute is wrong in some drivers (text for a BLOB); the
        // description of the column is what Qt Sql relies on too.
        SQLWCHAR columnName[2];
        SQLSMALLINT nameLength = 0, type = 0, digits = 0, nullable = 0;
        SQLULEN size = 0;
        if (!SQL_SUCCEEDED(SQLDescribeColW(m_stmt, i, columnName,
                                           SQLSMALLINT(std::size(columnName)), &nameLength, &type,
                                           &size, &digits, &nullable)))
            fail("SQLDescribeCol");
        SQLWCHAR typeName[64] = {};
        SQLSMALLINT typeNameBytes = 0;
        QString name;
        if (SQL_SUCCEEDED(SQLColAttributeW(m_stmt, i, SQL_DESC_TYPE_NAME, typeName, sizeof typeName,
                                           &typeNameBytes, nullptr)))
            name = QString::fromUtf16(reinterpret_cast<const char16_t*>(typeName),
                                      std::min<qsizetype>(typeNameBytes, sizeof typeName - 2) /
                                          qsizetype(sizeof(SQLWCHAR)));
        m_kinds << kindOf(type, name);
        m_names << record.fieldName(i - 1);
    }
    m_piece.resize(std::max(kTextPieceBytes, kBinaryPieceBytes));
    m_utf8 = defaultTextFetch() == TextFetch::Utf8;
}

OdbcReportReader::TextFetch OdbcReportReader::defaultTextFetch()
{
    const QByteArray forced = qgetenv("TALLYFRAME_TEXT_FETCH").toLower();
    if (forced == "utf8")
        return TextFetch::Utf8;
    if (forced == "utf16")
        return TextFetch::Utf16;
#ifdef Q_OS_WIN
    // Narrow text is the ANSI code page there: only UTF-16 carries every character.
    return TextFetch::Utf16;
#else
    // Narrow text comes in the locale's character set; when that is UTF-8 it is the drivers'
    // own form and saves two conversions per value.
    const char* codeset = nl_langinfo(CODESET);
    return codeset && qstrcmp(codeset, "UTF-8") == 0 ? TextFetch::Utf8 : TextFetch::Utf16;
#endif
}

void OdbcReportReader::fail(const char* what) const
{
    QString message;
    SQLWCHAR state[6] = {};
    SQLWCHAR text[1024];
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    for (SQLSMALLINT record = 1;
         SQL_SUCCEEDED(SQLGetDiagRecW(SQL_HANDLE_STMT, m_stmt, record, state, &native, text,
                                      SQLSMALLINT(std::size(text)), &length));
         ++record) {
        if (!message.isEmpty())
            message += QLatin1Char(' ');
        message += QString::fromUtf16(reinterpret_cast<const char16_t*>(text),
                                      std::min<qsizetype>(length, std::size(text) - 1));
    }
    if (message.isEmpty())
        message = QStringLiteral("%1 failed.").arg(QLatin1String(what));
    throw DbError(DbError::kDriverError, message);
}

qint64 OdbcReportReader::writeRows(JsonReportWriter& writer)
{
    qint64 rows = 0;
    const int columns = int(m_kinds.size());
    for (;;) {
        const SQLRETURN rc = SQLFetch(m_stmt);
        if (rc == SQL_NO_DATA)
            break;
        if (!SQL_SUCCEEDED(rc))
            fail("SQLFetch");
        writer.beginRow();
        for (int i = 0; i < columns; ++i) {
            writer.beginValue(i);
            writeValue(writer, i);
            writer.endValue();
        }
        writer.endRow();
        ++rows;
    }
    return rows;
}

void OdbcReportReader::writeValue(JsonReportWriter& writer, int column)
{
    const auto number = SQLUSMALLINT(column + 1);
    SQLLEN indicator = 0;
    char out[48];
    char* end = out;
    switch (m_kinds[column]) {
    case Kind::Text:
        writeText(writer, number, kTextPieceBytes);
        return;
    case Kind::Number:
        writeText(writer, number, kNumberPieceBytes);
        return;
    case Kind::Binary:
        writeBinary(writer, number);
        return;
    case Kind::Double: {
        double value = 0;
        if (!SQL_SUCCEEDED(SQLGetData(m_stmt, number, SQL_C_DOUBLE, &value, 0, &indicator)))
            fail("SQLGetData");
        if (indicator != SQL_NULL_DATA)
            appendShortest(writer, value);
        return;
    }
    case Kind::Single: {
        float value = 0;
        if (!SQL_SUCCEEDED(SQLGetData(m_stmt, number, SQL_C_FLOAT, &value, 0, &indicator)))
            fail("SQLGetData");
        if (indicator != SQL_NULL_DATA)
            appendShortest(writer, value);
        return;
    }
    case Kind::Date: {
        SQL_DATE_STRUCT value = {};
        if (!SQL_SUCCEEDED(
                SQLGetData(m_stmt, number, SQL_C_TYPE_DATE, &value, sizeof value, &indicator)))
            fail("SQLGetData");
        if (indicator == SQL_NULL_DATA)
            return;
        appendDate(end, value.year, value.month, value.day);
        break;
    }
    case Kind::Time: {
        SQL_TIME_STRUCT value = {};
        if (!SQL_SUCCEEDED(
                SQLGetData(m_stmt, number, SQL_C_TYPE_TIME, &value, sizeof value, &indicator)))
            fail("SQLGetData");
        if (indicator == SQL_NULL_DATA)
            return;
        appendTime(end, value.hour, value.minute, value.second);
        break;
    }
    case Kind::Timestamp: {
        SQL_TIMESTAMP_STRUCT value = {};
        if (!SQL_SUCCEEDED(
                SQLGetData(m_stmt, number, SQL_C_TYPE_TIMESTAMP, &value, sizeof value, &indicator)))
            fail("SQLGetData");
        if (indicator == SQL_NULL_DATA)
            return;
        appendDate(end, value.year, value.month, value.day);
        *end++ = ' ';
        appendTime(end, value.hour, value.minute, value.second);
        break;
    }
    case Kind::Bit: {
        unsigned char value = 0;
        if (!SQL_SUCCEEDED(SQLGetData(m_stmt, number, SQL_C_BIT, &value, 0, &indicator)))
            fail("SQLGetData");
        if (indicator == SQL_NULL_DATA)
            return;
        writer.appendPlain(value ? "True" : "False", value ? 4 : 5);
        return;
    }
    case Kind::BoolText: {
        char value[8] = {};
        if (!SQL_SUCCEEDED(SQLGetData(m_stmt, number, SQL_C_CHAR, value, sizeof value, &indicator)))
            fail("SQLGetData");
        if (indicator == SQL_NULL_DATA)
            return;
        const QByteArray text = QByteArray(value).trimmed().toLower();
        if (text == "1" || text == "t" || text == "true" || text == "-1")
            writer.appendPlain("True", 4);
        else if (text == "0" || text == "f" || text == "false")
            writer.appendPlain("False", 5);
        else
            writer.appendText(QString::fromLatin1(text));
        return;
    }
    }
    writer.appendPlain(out, end - out);
}

void OdbcReportReader::writeText(JsonReportWriter& writer, unsigned short column, long pieceBytes)
{
    if (m_utf8) {
        for (;;) {
            SQLLEN indicator = 0;
            const SQLRETURN rc =
                SQLGetData(m_stmt, column, SQL_C_CHAR, m_piece.data(), pieceBytes, &indicator);
            if (rc == SQL_NO_DATA)
                return;
            if (!SQL_SUCCEEDED(rc))
                fail("SQLGetData");
            if (indicator == SQL_NULL_DATA)
                return;
            // A piece that did not fit fills the buffer up to its terminating zero.
            const bool more = indicator == SQL_NO_TOTAL || indicator > pieceBytes - 1;
            writer.appendUtf8(m_piece.constData(), more ? pieceBytes - 1 : qsizetype(indicator));
            if (!more)
                return;
        }
    }
    auto* buffer = reinterpret_cast<SQLWCHAR*>(m_piece.data());
    const SQLLEN capacity = pieceBytes;
    constexpr qsizetype unit = sizeof(SQLWCHAR);
    for (;;) {
        SQLLEN indicator = 0;
        const SQLRETURN rc = SQLGetData(m_stmt, column, SQL_C_WCHAR, buffer, capacity, &indicator);
        if (rc == SQL_NO_DATA)
            return;
        if (!SQL_SUCCEEDED(rc))
            fail("SQLGetData");
        if (indicator == SQL_NULL_DATA)
            return;
        // A piece that did not fit fills the buffer up to its terminating zero.
        const bool more = indicator == SQL_NO_TOTAL || indicator > capacity - unit;
        const qsizetype units = more ? (capacity - unit) / unit : qsizetype(indicator) / unit;
        writer.appendUtf16(reinterpret_cast<const char16_t*>(buffer), units);
        if (!more)
            return;
    }
}

void OdbcReportReader::writeBinary(JsonReportWriter& writer, unsigned short column)
{
    const SQLLEN capacity = kBinaryPieceBytes;
    for (;;) {
        SQLLEN indicator = 0;
        const SQLRETURN rc =
            SQLGetData(m_stmt, column, SQL_C_BINARY, m_piece.data(), capacity, &indicator);
        if (rc == SQL_NO_DATA)
            return;
        if (!SQL_SUCCEEDED(rc))
            fail("SQLGetData");
        if (indicator == SQL_NULL_DATA)
            return;
        const bool more = indicator == SQL_NO_TOTAL || indicator > capacity;
        const qsizetype bytes = more ? capacity : qsizetype(indicator);
        // Every piece but the last is a multiple of 3 bytes, so the pieces' base64 joins up.
        const QByteArray base64 = QByteArray::fromRawData(m_piece.constData(), bytes).toBase64();
        writer.appendPlain(base64.constData(), base64.size());
        if (!more)
            return;
    }
}
