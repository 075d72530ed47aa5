// Reads an executed query straight from its ODBC statement handle, in blocks of rows into bound
// buffers where the driver allows it, and writes each value into the report document. Qt Sql still
// connects, executes and names the columns; the per-value path through QVariant would cost several
// times the driver's own time and truncates 64-bit integers that a driver announces as 32-bit.
#pragma once

#include <QList>
#include <QStringList>

#include <memory>

class JsonReportWriter;
class QSqlQuery;

class OdbcReportReader
{
public:
    // Text is fetched in pieces of this many bytes: even, so that no UTF-16 character is split
    // inside a piece, and small, because some drivers clear the whole buffer per call.
    static constexpr int kTextPieceBytes = 4096;
    static constexpr int kBinaryPieceBytes = 3 * 1024; // a multiple of 3 for base64
    // Numbers are fetched as text too (a driver may announce 32 bits and hold 64), in pieces
    // that fit any number whole: clearing a 4 KiB buffer per number would cost more than the
    // number.
    static constexpr int kNumberPieceBytes = 64;
    // Bound buffers: a text longer than its buffer is read again in pieces. Rows come in blocks
    // of kBlockRows where the driver can read a bound row's column again after a block fetch,
    // one at a time where it can only after a single-row fetch.
    static constexpr int kBoundTextBytes = 512;
    static constexpr int kBlockRows = 64;

    // The query must have been executed forward-only through the ODBC driver. Throws DbError.
    // A result with more rows than `rowLimit` is refused whole: writeRows throws GuardError as
    // soon as it fetches the row past the limit. 0 sets no limit.
    OdbcReportReader(QSqlQuery& executed, qint64 rowLimit);
    // Leaves the statement without the bindings into this reader's buffers.
    ~OdbcReportReader();
    OdbcReportReader(const OdbcReportReader&) = delete;
    OdbcReportReader& operator=(const OdbcReportReader&) = delete;

    const QStringList& columnNames() const { return m_names; }
    // Reads every remaining row into the writer (between its begin and end, the writer's rows
    // counting against the limit). Throws DbError when the driver fails.
    void writeRows(JsonReportWriter& writer);

    enum class Kind
    {
        Text,   // the driver's text, escaped
        Number, // integers and exact numerics: the driver's digits
        Binary, // base64
        // The rest are read as the driver's text and brought into the document's form; a text
        // that is not one of the type's forms is written as it is.
        Double,    // shortest form that reads back the same
        Single,    // the same for 4-byte floats
        Date,      // yyyy-MM-dd
        Time,      // HH:mm:ss
        Timestamp, // yyyy-MM-dd HH:mm:ss
        Bit        // True / False, also from a boolean the driver hands over as text ("t", "0")
    };

private:
    QString columnName(unsigned short column, short* type);
    void bindColumns(unsigned long getDataExtensions);
    // The value from its bound buffer; false when it is not there whole.
    bool writeBound(JsonReportWriter& writer, int column, unsigned long row);
    void writeValue(JsonReportWriter& writer, int column);
    // Writes the document's form of one value's text, or returns nullptr for a text it does
    // not know.
    using Form = char* (*)(const char* begin, const char* end, char* out);
    static Form formOf(Kind kind);
    void writeConverted(JsonReportWriter& writer, unsigned short column, Form form);
    // `text` holds narrow or UTF-16 units, as the fetch is.
    void writeForm(JsonReportWriter& writer, Form form, const void* text, qsizetype length);
    void appendText(JsonReportWriter& writer, const void* text, qsizetype units) const;
    void writeText(JsonReportWriter& writer, unsigned short column, long pieceBytes);
    void writeBinary(JsonReportWriter& writer, unsigned short column);
    [[noreturn]] void fail(const char* what) const;

    void* m_stmt = nullptr;
    QStringList m_names;
    QList<Kind> m_kinds;
    QByteArray m_piece;
    bool m_utf8 = false; // text as SQL_C_CHAR in UTF-8, else as SQL_C_WCHAR (UTF-16)
    const qint64 m_rowLimit;
    bool m_typedDateTimes = false; // date-times bound typed, where the driver's text is no truer
    struct Block;                  // the bound buffers, in the ODBC headers' types
    std::unique_ptr<Block> m_block;
};
