// Fetching through the statement handle.
#include "OdbcReportReader.h"

#include "OdbcConnection.h"
#include "OwnerGuard.h"
#include "ReportJsonWriter.h"

#include <QSqlDriver>
#include <QSqlQuery>
#include <QSqlResult>

#ifdef Q_OS_WIN
// The ODBC headers of Windows rely on its base types without including them.
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string_view>
#include <vector>

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
        return K::Bit;
    return K::Text;
}

// The document's forms of values whose driver text differs from them. Each takes the driver's
// whole text of one value and writes the form to `out` (room for 48 bytes), or returns nullptr
// when the text is not one it knows: the value is then written as the driver gave it, rather
// than dropped or replaced by something that was never stored.

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Reads 1 to `most` digits at `p`, no more than `end` allows.
bool readNumber(const char*& p, const char* end, int least, int most, unsigned& value)
{
    value = 0;
    int n = 0;
    while (p < end && n < most && isDigit(*p)) {
        value = value * 10 + unsigned(*p++ - '0');
        ++n;
    }
    return n >= least && (p == end || !isDigit(*p));
}

// Steps over `c` when it is next.
bool accept(const char*& p, const char* end, char c)
{
    if (p == end || *p != c)
        return false;
    ++p;
    return true;
}

void appendNumber(char*& out, unsigned value, int digits)
{
    for (int i = digits - 1; i >= 0; --i) {
        out[i] = char('0' + value % 10);
        value /= 10;
    }
    out += digits;
}

struct DateParts
{
    bool negative = false;
    unsigned year = 0, month = 0, day = 0;
};

struct TimeParts
{
    unsigned hour = 0, minute = 0, second = 0;
};

// yyyy-M-d, a year of 4 or 5 digits, possibly negative.
bool readDate(const char*& p, const char* end, DateParts& date)
{
    date.negative = accept(p, end, '-');
    return readNumber(p, end, 4, 5, date.year) && accept(p, end, '-') &&
           readNumber(p, end, 1, 2, date.month) && date.month >= 1 && date.month <= 12 &&
           accept(p, end, '-') && readNumber(p, end, 1, 2, date.day) && date.day >= 1 &&
           date.day <= 31;
}

// H:mm[:ss][.fraction][zone]: the fraction and the zone are not part of the document's form.
bool readTime(const char*& p, const char* end, TimeParts& time)
{
    if (!readNumber(p, end, 1, 2, time.hour) || time.hour > 24 || !accept(p, end, ':') ||
        !readNumber(p, end, 2, 2, time.minute) || time.minute > 59)
        return false;
    time.second = 0;
    if (accept(p, end, ':')) {
        if (!readNumber(p, end, 2, 2, time.second) || time.second > 60)
            return false;
        if (accept(p, end, '.')) {
            while (p < end && isDigit(*p))
                ++p;
        }
    }
    if (!accept(p, end, 'Z') && (accept(p, end, '+') || accept(p, end, '-'))) {
        unsigned zone = 0;
        if (!readNumber(p, end, 2, 4, zone) ||
            (accept(p, end, ':') && !readNumber(p, end, 2, 2, zone)))
            return false;
    }
    return p == end;
}

char* writeDate(char* out, const DateParts& date)
{
    if (date.negative)
        *out++ = '-';
    appendNumber(out, date.year, date.year > 9999 ? 5 : 4);
    *out++ = '-';
    appendNumber(out, date.month, 2);
    *out++ = '-';
    appendNumber(out, date.day, 2);
    return out;
}

char* writeTime(char* out, const TimeParts& time)
{
    appendNumber(out, time.hour, 2);
    *out++ = ':';
    appendNumber(out, time.minute, 2);
    *out++ = ':';
    appendNumber(out, time.second, 2);
    return out;
}

// A date, and a time after ' ' or 'T' when more follows; a date alone is at midnight.
bool readDateTime(const char* p, const char* end, DateParts& date, TimeParts& time)
{
    return readDate(p, end, date) &&
           (p == end || ((*p == ' ' || *p == 'T') && readTime(++p, end, time)));
}

// yyyy-MM-dd; a date with a time of midnight is the date.
char* dateForm(const char* p, const char* end, char* out)
{
    DateParts date;
    TimeParts time;
    if (!readDateTime(p, end, date, time) || time.hour || time.minute || time.second)
        return nullptr;
    return writeDate(out, date);
}

char* timeForm(const char* p, const char* end, char* out)
{
    TimeParts time;
    return readTime(p, end, time) ? writeTime(out, time) : nullptr;
}

// yyyy-MM-dd HH:mm:ss. A time alone is not made a time stamp of some day.
char* timestampForm(const char* p, const char* end, char* out)
{
    DateParts date;
    TimeParts time;
    if (!readDateTime(p, end, date, time))
        return nullptr;
    out = writeDate(out, date);
    *out++ = ' ';
    return writeTime(out, time);
}

// The shortest text that reads back as the same number; not for infinities and NaN, whose
// driver text is kept.
template <typename T> char* floatForm(const char* p, const char* end, char* out)
{
    T value = 0;
    const auto read = std::from_chars(p, end, value);
    if (read.ec != std::errc() || read.ptr != end || !std::isfinite(value))
        return nullptr;
    return std::to_chars(out, out + 40, value).ptr;
}

char* boolForm(const char* p, const char* end, char* out)
{
    const QByteArray text = QByteArray::fromRawData(p, end - p).trimmed().toLower();
    std::string_view word;
    if (text == "1" || text == "t" || text == "true" || text == "-1")
        word = "True";
    else if (text == "0" || text == "f" || text == "false")
        word = "False";
    return word.empty() ? nullptr : std::copy(word.begin(), word.end(), out);
}

void unbind(SQLHSTMT stmt)
{
    SQLFreeStmt(stmt, SQL_UNBIND);
    SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(SQLULEN(1)), 0);
    SQLSetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, nullptr, 0);
    SQLSetStmtAttr(stmt, SQL_ATTR_ROW_STATUS_PTR, nullptr, 0);
}

// Reads the next piece of a value into `buffer`; false when there is none: the value is null or
// has been read whole.
bool getPiece(SQLHSTMT stmt, SQLUSMALLINT column, SQLSMALLINT cType, void* buffer, SQLLEN bytes,
              SQLLEN& indicator)
{
    const SQLRETURN rc = SQLGetData(stmt, column, cType, buffer, bytes, &indicator);
    if (rc == SQL_NO_DATA)
        return false;
    if (!SQL_SUCCEEDED(rc))
        throw StatementError(stmt, QStringLiteral("SQLGetData failed."));
    return indicator != SQL_NULL_DATA;
}

// Text as UTF-8 where the C library's character set is UTF-8 (not on Windows), else as UTF-16,
// which carries every character whatever the platform. TALLYFRAME_TEXT_FETCH=utf8 or utf16
// overrides it (diagnosis, tests).
bool fetchesUtf8()
{
    const QByteArray forced = qgetenv("TALLYFRAME_TEXT_FETCH").toLower();
    if (forced == "utf8" || forced == "utf16")
        return forced == "utf8";
#ifdef Q_OS_WIN
    // Narrow text is the ANSI code page there: only UTF-16 carries every character.
    return false;
#else
    // Narrow text comes in the locale's character set; when that is UTF-8 it is the drivers'
    // own form and saves two conversions per value.
    const char* codeset = nl_langinfo(CODESET);
    return codeset && qstrcmp(codeset, "UTF-8") == 0;
#endif
}

} // namespace

struct OdbcReportReader::Block
{
    struct Column
    {
        SQLSMALLINT cType = 0; // 0: not bound, read with SQLGetData
        SQLLEN width = 0;      // bytes of one row's value
        size_t offset = 0;
    };
    std::vector<Column> columns;
    std::vector<char> buffers;      // column by column, `rows` values each
    std::vector<SQLLEN> indicators; // column by column
    std::vector<SQLUSMALLINT> status;
    SQLULEN rows = 0;
    SQLULEN fetched = 0;
};

OdbcReportReader::OdbcReportReader(QSqlQuery& executed, qint64 rowLimit) : m_rowLimit(rowLimit)
{
    const QSqlResult* result = executed.result();
    m_stmt = result ? OdbcHandle(result->handle()) : nullptr;
    if (!m_stmt)
        throw DbError(DbError::kDriverError,
                      QStringLiteral("The query has no ODBC statement to read from."));

    SQLSMALLINT columns = 0;
    if (!SQL_SUCCEEDED(SQLNumResultCols(m_stmt, &columns)))
        fail("SQLNumResultCols");
    for (SQLUSMALLINT i = 1; i <= columns; ++i) {
        // The concise type attribute is wrong in some drivers (text for a BLOB); the
        // description of the column is what Qt Sql relies on too.
        SQLSMALLINT type = 0;
        m_names << columnName(i, &type);
        SQLWCHAR typeName[64] = {};
        SQLSMALLINT typeNameBytes = 0;
        QString name;
        if (SQL_SUCCEEDED(SQLColAttributeW(m_stmt, i, SQL_DESC_TYPE_NAME, typeName, sizeof typeName,
                                           &typeNameBytes, nullptr)))
            name = QString::fromUtf16(reinterpret_cast<const char16_t*>(typeName),
                                      std::min<qsizetype>(typeNameBytes, sizeof typeName - 2) /
                                          qsizetype(sizeof(SQLWCHAR)));
        m_kinds << kindOf(type, name);
    }
    m_piece.resize(std::max(kTextPieceBytes, kBinaryPieceBytes));
    m_utf8 = fetchesUtf8();
    // psqlODBC makes its text of a date or time by parsing the server's text and printing it
    // again, so that text is no truer than the typed value and costs a printf more per value
    // (about 15 % of a report's instructions): there the typed fetch is the cheaper way.
    const SQLHDBC connection =
        executed.driver() ? OdbcHandle(executed.driver()->handle()) : nullptr;
    SQLCHAR driver[64] = {};
    if (connection &&
        SQL_SUCCEEDED(SQLGetInfo(connection, SQL_DRIVER_NAME, driver, sizeof driver, nullptr)))
        m_typedDateTimes = qstrnicmp(reinterpret_cast<const char*>(driver), "psqlodbc", 8) == 0;
    SQLUINTEGER extensions = 0;
    if (connection && SQL_SUCCEEDED(SQLGetInfo(connection, SQL_GETDATA_EXTENSIONS, &extensions,
                                               sizeof extensions, nullptr)))
        bindColumns(extensions);
}

OdbcReportReader::~OdbcReportReader()
{
    // The statement outlives this reader and must not write into its buffers any more.
    if (m_block)
        unbind(m_stmt);
}

void OdbcReportReader::bindColumns(unsigned long extensions)
{
    // A value that does not fit its buffer, and a column left unbound, are read again with
    // SQLGetData from the fetched row, which drivers allow only after a single-row fetch unless
    // they say otherwise. Per-call locks of the driver manager and each driver's entry checks
    // make a block of rows cheaper than its values read one by one (about a third less time in
    // psqlODBC, a tenth in SQLite's driver, where a block is no cheaper than a bound row).
    if (!(extensions & SQL_GD_BOUND) || !(extensions & SQL_GD_ANY_COLUMN))
        return;
    auto block = std::make_unique<Block>();
    block->rows = (extensions & SQL_GD_BLOCK) ? kBlockRows : 1;
    size_t offset = 0;
    for (const Kind kind : std::as_const(m_kinds)) {
        Block::Column column;
        const bool typed = m_typedDateTimes &&
                           (kind == Kind::Date || kind == Kind::Timestamp || kind == Kind::Time);
        if (typed && kind == Kind::Time) {
            column.cType = SQL_C_TYPE_TIME;
            column.width = sizeof(SQL_TIME_STRUCT);
        } else if (typed) {
            column.cType = SQL_C_TYPE_TIMESTAMP;
            column.width = sizeof(SQL_TIMESTAMP_STRUCT);
        } else if (kind != Kind::Binary) {
            column.cType = m_utf8 ? SQL_C_CHAR : SQL_C_WCHAR;
            column.width = kind == Kind::Text ? kBoundTextBytes : kNumberPieceBytes;
        }
        column.offset = offset;
        offset += (size_t(column.width) * block->rows + 7) & ~size_t(7);
        block->columns.push_back(column);
    }
    block->buffers.resize(offset);
    block->indicators.resize(block->columns.size() * block->rows);
    block->status.resize(block->rows);
    bool bound =
        SQL_SUCCEEDED(SQLSetStmtAttr(m_stmt, SQL_ATTR_ROW_ARRAY_SIZE,
                                     reinterpret_cast<SQLPOINTER>(block->rows), 0)) &&
        SQL_SUCCEEDED(SQLSetStmtAttr(m_stmt, SQL_ATTR_ROWS_FETCHED_PTR, &block->fetched, 0)) &&
        SQL_SUCCEEDED(SQLSetStmtAttr(m_stmt, SQL_ATTR_ROW_STATUS_PTR, block->status.data(), 0));
    for (size_t i = 0; bound && i < block->columns.size(); ++i) {
        const Block::Column& column = block->columns[i];
        bound = !column.cType ||
                SQL_SUCCEEDED(SQLBindCol(m_stmt, SQLUSMALLINT(i + 1), column.cType,
                                         block->buffers.data() + column.offset, column.width,
                                         block->indicators.data() + i * block->rows));
    }
    if (bound)
        m_block = std::move(block);
    else
        unbind(m_stmt); // read value by value then
}

QString OdbcReportReader::columnName(unsigned short column, short* type)
{
    // Some drivers give the name's length in UTF-8 bytes where characters are meant, and leave
    // whatever was in the buffer behind the name: the length is only a bound, the name ends at
    // its terminating zero, and the buffer starts zeroed.
    std::vector<SQLWCHAR> buffer(256);
    for (;;) {
        std::fill(buffer.begin(), buffer.end(), SQLWCHAR(0));
        SQLSMALLINT length = 0, digits = 0, nullable = 0;
        SQLULEN size = 0;
        if (!SQL_SUCCEEDED(SQLDescribeColW(m_stmt, column, buffer.data(),
                                           SQLSMALLINT(buffer.size()), &length, type, &size,
                                           &digits, &nullable)))
            fail("SQLDescribeCol");
        const auto capacity = qsizetype(buffer.size()) - 1;
        if (length >= capacity && buffer.size() < 0x4000) {
            buffer.resize(size_t(length) + 2); // cut short: once more with room for it
            continue;
        }
        const auto* name = reinterpret_cast<const char16_t*>(buffer.data());
        const qsizetype bound = std::clamp<qsizetype>(length, 0, capacity);
        return QString::fromUtf16(name, std::find(name, name + bound, u'\0') - name);
    }
}

void OdbcReportReader::fail(const char* what) const
{
    throw StatementError(m_stmt, QStringLiteral("%1 failed.").arg(QLatin1String(what)));
}

void OdbcReportReader::writeRows(JsonReportWriter& writer)
{
    const int columns = int(m_kinds.size());
    for (;;) {
        const SQLRETURN rc = SQLFetch(m_stmt);
        if (rc == SQL_NO_DATA)
            break;
        if (!SQL_SUCCEEDED(rc))
            fail("SQLFetch");
        const SQLULEN fetched = m_block ? m_block->fetched : 1;
        for (SQLULEN row = 0; row < fetched; ++row) {
            if (m_rowLimit > 0 && writer.rows() == m_rowLimit)
                throw GuardError(DbError::kDriverError, GuardRowLimitText(m_rowLimit));
            // A row the driver could not fill, say a date-time its type cannot hold, is read
            // again as text.
            const bool filled = m_block && (m_block->status[row] == SQL_ROW_SUCCESS ||
                                            m_block->status[row] == SQL_ROW_SUCCESS_WITH_INFO);
            bool positioned = !m_block || m_block->rows == 1;
            writer.beginRow();
            for (int i = 0; i < columns; ++i) {
                writer.beginValue(i);
                if (!filled || !writeBound(writer, i, row)) {
                    if (!positioned && !SQL_SUCCEEDED(SQLSetPos(m_stmt, SQLSETPOSIROW(row + 1),
                                                                SQL_POSITION, SQL_LOCK_NO_CHANGE)))
                        fail("SQLSetPos");
                    positioned = true;
                    writeValue(writer, i);
                }
                writer.endValue();
            }
            writer.endRow();
        }
    }
}

bool OdbcReportReader::writeBound(JsonReportWriter& writer, int column, unsigned long row)
{
    const Block::Column& bound = m_block->columns[column];
    if (!bound.cType)
        return false;
    const SQLLEN indicator = m_block->indicators[size_t(column) * m_block->rows + row];
    if (indicator == SQL_NULL_DATA)
        return true;
    const char* value = m_block->buffers.data() + bound.offset + row * bound.width;
    const Kind kind = m_kinds[column];
    char out[48];
    char* end = out;
    if (bound.cType == SQL_C_TYPE_TIME) {
        SQL_TIME_STRUCT time;
        std::memcpy(&time, value, sizeof time);
        end = writeTime(end, {time.hour, time.minute, time.second});
    } else if (bound.cType == SQL_C_TYPE_TIMESTAMP) {
        SQL_TIMESTAMP_STRUCT stamp;
        std::memcpy(&stamp, value, sizeof stamp);
        end = writeDate(end,
                        {stamp.year < 0, unsigned(std::abs(stamp.year)), stamp.month, stamp.day});
        if (kind == Kind::Timestamp) {
            *end++ = ' ';
            end = writeTime(end, {stamp.hour, stamp.minute, stamp.second});
        }
    } else {
        // A text cut short at the buffer's end is read again whole.
        const qsizetype unit = m_utf8 ? 1 : qsizetype(sizeof(SQLWCHAR));
        if (indicator < 0 || indicator > bound.width - unit)
            return false;
        if (kind == Kind::Text || kind == Kind::Number)
            appendText(writer, value, indicator / unit);
        else
            writeForm(writer, formOf(kind), value, indicator / unit);
        return true;
    }
    writer.appendPlain(out, end - out);
    return true;
}

OdbcReportReader::Form OdbcReportReader::formOf(Kind kind)
{
    // Named case by case, so that a kind added or moved in the enum cannot take another's form.
    switch (kind) {
    case Kind::Double:
        return floatForm<double>;
    case Kind::Single:
        return floatForm<float>;
    case Kind::Date:
        return dateForm;
    case Kind::Time:
        return timeForm;
    case Kind::Timestamp:
        return timestampForm;
    case Kind::Bit:
        return boolForm;
    default:
        return nullptr; // text, numbers and binary: the driver's own form
    }
}

void OdbcReportReader::writeValue(JsonReportWriter& writer, int column)
{
    const auto number = SQLUSMALLINT(column + 1);
    const Kind kind = m_kinds[column];
    if (kind == Kind::Binary)
        writeBinary(writer, number);
    else if (const Form form = formOf(kind))
        writeConverted(writer, number, form);
    else // text, and numbers, whose driver's digits are the document's form
        writeText(writer, number, kind == Kind::Text ? kTextPieceBytes : kNumberPieceBytes);
}

void OdbcReportReader::writeConverted(JsonReportWriter& writer, unsigned short column, Form form)
{
    // The driver's own text, not a typed fetch: a typed fetch turns a value that its type cannot
    // hold into an error, a zero or a made-up day, and costs the driver a conversion too.
    SQLLEN indicator = 0;
    SQLWCHAR text[kNumberPieceBytes / sizeof(SQLWCHAR)];
    const qsizetype unit = m_utf8 ? 1 : qsizetype(sizeof(SQLWCHAR));
    if (!getPiece(m_stmt, column, m_utf8 ? SQL_C_CHAR : SQL_C_WCHAR, text, sizeof text, indicator))
        return;
    if (indicator == SQL_NO_TOTAL || indicator > qsizetype(sizeof text) - unit) {
        // Longer than any form: written as it is.
        appendText(writer, text, qsizetype(sizeof text) / unit - 1);
        writeText(writer, column, kTextPieceBytes);
        return;
    }
    writeForm(writer, form, text, indicator / unit);
}

void OdbcReportReader::writeForm(JsonReportWriter& writer, Form form, const void* text,
                                 qsizetype length)
{
    // The forms are ASCII: any other text is not one of them.
    char narrow[kNumberPieceBytes];
    const auto* units = static_cast<const char16_t*>(text);
    const char* chars = m_utf8 ? static_cast<const char*>(text) : narrow;
    bool ascii = length <= qsizetype(sizeof narrow);
    for (qsizetype i = 0; i < length && ascii; ++i) {
        if (!m_utf8)
            narrow[i] = char(units[i]);
        ascii = static_cast<unsigned char>(chars[i]) < 0x80 && (m_utf8 || units[i] < 0x80);
    }
    char out[48];
    if (const char* end = ascii ? form(chars, chars + length, out) : nullptr)
        writer.appendPlain(out, end - out);
    else
        appendText(writer, text, length);
}

void OdbcReportReader::appendText(JsonReportWriter& writer, const void* text, qsizetype units) const
{
    if (m_utf8)
        writer.appendUtf8(static_cast<const char*>(text), units);
    else
        writer.appendUtf16(static_cast<const char16_t*>(text), units);
}

void OdbcReportReader::writeText(JsonReportWriter& writer, unsigned short column, long pieceBytes)
{
    const SQLSMALLINT cType = m_utf8 ? SQL_C_CHAR : SQL_C_WCHAR;
    const qsizetype unit = m_utf8 ? 1 : qsizetype(sizeof(SQLWCHAR));
    SQLLEN indicator = 0;
    while (getPiece(m_stmt, column, cType, m_piece.data(), pieceBytes, indicator)) {
        // A piece that did not fit fills the buffer up to its terminating zero.
        const bool more = indicator == SQL_NO_TOTAL || indicator > pieceBytes - unit;
        appendText(writer, m_piece.constData(),
                   (more ? pieceBytes - unit : qsizetype(indicator)) / unit);
        if (!more)
            return;
    }
}

void OdbcReportReader::writeBinary(JsonReportWriter& writer, unsigned short column)
{
    const SQLLEN capacity = kBinaryPieceBytes;
    SQLLEN indicator = 0;
    while (getPiece(m_stmt, column, SQL_C_BINARY, m_piece.data(), capacity, indicator)) {
        const bool more = indicator == SQL_NO_TOTAL || indicator > capacity;
        const qsizetype bytes = more ? capacity : qsizetype(indicator);
        // Every piece but the last is a multiple of 3 bytes, so the pieces' base64 joins up.
        const QByteArray base64 = QByteArray::fromRawData(m_piece.constData(), bytes).toBase64();
        writer.appendPlain(base64.constData(), base64.size());
        if (!more)
            return;
    }
}
