// The report document, written as it is produced: a buffered byte sink over any QIODevice and a
// JSON writer that escapes every string as RFC 8259 requires, so no row is ever held twice.
#pragma once

#include "service/AgentError.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstring>

class QIODevice;

// Writing the document failed (a full disk, a closed device).
class ReportWriteError : public AgentError
{
public:
    explicit ReportWriteError(QString description) : AgentError(0, std::move(description)) {}
};

// Collects bytes and hands them to the device in large pieces.
class ReportSink
{
public:
    static constexpr qsizetype kDefaultPiece = 1 << 20;
    explicit ReportSink(QIODevice* device, qsizetype pieceSize = kDefaultPiece);
    ReportSink(const ReportSink&) = delete;
    ReportSink& operator=(const ReportSink&) = delete;

    void write(const char* data, qsizetype size)
    {
        if (m_used + size > m_capacity) {
            writeSlow(data, size);
            return;
        }
        std::memcpy(m_buffer.data() + m_used, data, size_t(size));
        m_used += size;
    }
    void write(const QByteArray& bytes) { write(bytes.constData(), bytes.size()); }
    void put(char c)
    {
        if (m_used == m_capacity)
            flush();
        m_buffer.data()[m_used++] = c;
    }
    // Room for at least `size` more bytes without a flush; returns where to write them.
    char* reserve(qsizetype size)
    {
        if (m_used + size > m_capacity)
            flush();
        return m_buffer.data() + m_used;
    }
    void commit(qsizetype size) { m_used += size; }
    qsizetype pieceSize() const { return m_capacity; }

    // Hands everything collected to the device. Throws ReportWriteError.
    void flush();
    // Bytes accepted so far, flushed or not.
    qint64 written() const { return m_flushed + m_used; }

private:
    void writeSlow(const char* data, qsizetype size);

    QIODevice* m_device;
    QByteArray m_buffer;
    qsizetype m_capacity;
    qsizetype m_used = 0;
    qint64 m_flushed = 0;
};

// Writes {"title":..,"fileName":..,"header":[..],"data":[{..},..],"footer":..} on one line, in
// that order, leaving out an empty title, file name or footer. Values are written in pieces
// (beginValue, any number of appends, endValue), so a long text never needs to be whole.
class JsonReportWriter
{
public:
    explicit JsonReportWriter(ReportSink& sink) : m_sink(sink) {}

    void begin(const QString& title, const QString& fileName, const QStringList& header);
    void beginRow();
    void beginValue(int column)
    {
        const QByteArray& prefix = m_memberPrefix[column];
        m_sink.write(prefix.constData(), prefix.size());
    }
    // Appends UTF-16 text, escaped and written as UTF-8. A surrogate pair split between two
    // appends is joined.
    void appendUtf16(const char16_t* data, qsizetype size);
    // Appends UTF-8 text, escaped; a sequence split between two appends is joined, and bytes
    // that are not UTF-8 become U+FFFD, so the document stays valid whatever the driver sends.
    void appendUtf8(const char* data, qsizetype size);
    void appendText(QStringView text)
    {
        appendUtf16(reinterpret_cast<const char16_t*>(text.utf16()), text.size());
    }
    // Text known to need no escaping (digits, dates, base64).
    void appendPlain(const char* data, qsizetype size) { m_sink.write(data, size); }
    void endValue();
    void endRow() { m_sink.put('}'); }
    void end(const QString& footer);

    qint64 rows() const { return m_rows; }

    // A whole JSON string (quotes included) for the text, as the writer writes it.
    static QByteArray quoted(QStringView text);

private:
    qsizetype completePendingUtf8(const char* data, qsizetype size);

    ReportSink& m_sink;
    // For every column: `"name":"`, with a leading `,` for all but the first.
    QList<QByteArray> m_memberPrefix;
    qint64 m_rows = 0;
    char16_t m_pendingHigh = 0;
    char m_pendingUtf8[4] = {};
    int m_pendingUtf8Size = 0;
};
