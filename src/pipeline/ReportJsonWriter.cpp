// Escaping and layout of the report document.
#include "ReportJsonWriter.h"

#include <QBuffer>
#include <QIODevice>

#include <algorithm>
#include <string_view>

namespace {

constexpr char kHex[] = "0123456789abcdef";

// Longest output of one UTF-16 code unit: a control character as \u00XX (6 bytes), or a
// supplementary character completed by its low surrogate (4 bytes).
constexpr qsizetype kMaxUnitBytes = 6;

inline char* putEscapedAscii(char* out, char16_t c)
{
    // The characters JSON escapes with one letter, and that letter.
    static constexpr std::string_view kEscaped("\"\\\b\f\n\r\t"), kLetters("\"\\bfnrt");
    if (const size_t at = kEscaped.find(char(c)); at != std::string_view::npos) {
        *out++ = '\\';
        *out++ = kLetters[at];
    } else if (c < 0x20) {
        out = std::copy_n("\\u00", 4, out);
        *out++ = kHex[c >> 4];
        *out++ = kHex[c & 0xF];
    } else {
        *out++ = char(c);
    }
    return out;
}

inline char* putCodePoint(char* out, char32_t cp)
{
    if (cp < 0x800) {
        *out++ = char(0xC0 | (cp >> 6));
        *out++ = char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        *out++ = char(0xE0 | (cp >> 12));
        *out++ = char(0x80 | ((cp >> 6) & 0x3F));
        *out++ = char(0x80 | (cp & 0x3F));
    } else {
        *out++ = char(0xF0 | (cp >> 18));
        *out++ = char(0x80 | ((cp >> 12) & 0x3F));
        *out++ = char(0x80 | ((cp >> 6) & 0x3F));
        *out++ = char(0x80 | (cp & 0x3F));
    }
    return out;
}

constexpr char32_t kReplacement = 0xFFFD;

} // namespace

ReportSink::ReportSink(QIODevice* device, qsizetype pieceSize)
    : m_device(device), m_capacity(std::max<qsizetype>(pieceSize, 64))
{
    m_buffer.resize(m_capacity);
}

void ReportSink::flush()
{
    qsizetype done = 0;
    while (done < m_used) {
        const qint64 n = m_device->write(m_buffer.constData() + done, m_used - done);
        if (n <= 0)
            throw ReportWriteError(QStringLiteral("The report could not be written: ") +
                                   m_device->errorString());
        done += n;
    }
    m_flushed += m_used;
    m_used = 0;
}

void ReportSink::writeSlow(const char* data, qsizetype size)
{
    flush();
    if (size >= m_capacity) {
        if (m_device->write(data, size) != size)
            throw ReportWriteError(QStringLiteral("The report could not be written: ") +
                                   m_device->errorString());
        m_flushed += size;
        return;
    }
    std::memcpy(m_buffer.data(), data, size_t(size));
    m_used = size;
}

QByteArray JsonReportWriter::quoted(QStringView text)
{
    // Through the value path itself, so that names, title and footer are escaped as values are.
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    ReportSink sink(&buffer, 256);
    JsonReportWriter writer(sink);
    sink.put('"');
    writer.appendText(text);
    writer.endValue();
    sink.flush();
    return buffer.data();
}

void JsonReportWriter::begin(const QString& title, const QString& fileName,
                             const QStringList& header)
{
    m_sink.put('{');
    if (!title.isEmpty())
        m_sink.write("\"title\":" + quoted(title) + ',');
    if (!fileName.isEmpty())
        m_sink.write("\"fileName\":" + quoted(fileName) + ',');
    m_sink.write("\"header\":[", 10);
    m_memberPrefix.clear();
    m_memberPrefix.reserve(header.size());
    for (qsizetype i = 0; i < header.size(); ++i) {
        const QByteArray member = (i > 0 ? QByteArray(",") : QByteArray()) + quoted(header[i]);
        m_sink.write(member);
        m_memberPrefix.append(member + ":\"");
    }
    m_sink.write("],\"data\":[", 10);
    m_rows = 0;
}

void JsonReportWriter::beginRow()
{
    if (m_rows++ > 0)
        m_sink.put(',');
    m_sink.put('{');
}

void JsonReportWriter::appendUtf16(const char16_t* data, qsizetype size)
{
    qsizetype i = 0;
    if (m_pendingHigh && size > 0) {
        const bool paired = QChar::isLowSurrogate(data[0]);
        char* const out = m_sink.reserve(kMaxUnitBytes);
        const char32_t cp = paired ? QChar::surrogateToUcs4(m_pendingHigh, data[0]) : kReplacement;
        m_sink.commit(putCodePoint(out, cp) - out);
        i = paired ? 1 : 0;
        m_pendingHigh = 0;
    }
    while (i < size) {
        // Work in runs that surely fit the sink's free room, so the inner loop has no checks.
        const qsizetype run = std::min<qsizetype>(size - i, m_sink.pieceSize() / kMaxUnitBytes);
        char* const start = m_sink.reserve(run * kMaxUnitBytes);
        char* out = start;
        const qsizetype stop = i + run;
        for (; i < stop; ++i) {
            const char16_t c = data[i];
            if (c >= 0x20 && c < 0x80 && c != u'"' && c != u'\\') {
                *out++ = char(c);
            } else if (c < 0x80) {
                out = putEscapedAscii(out, c);
            } else if (QChar::isHighSurrogate(c)) {
                if (i + 1 < size && QChar::isLowSurrogate(data[i + 1])) {
                    out = putCodePoint(out, QChar::surrogateToUcs4(c, data[i + 1]));
                    ++i; // a pair at the end of a run may take its low half from the next
                } else if (i + 1 == size) {
                    m_pendingHigh = c; // its partner may open the next piece
                } else {
                    out = putCodePoint(out, kReplacement);
                }
            } else if (QChar::isLowSurrogate(c)) {
                out = putCodePoint(out, kReplacement);
            } else {
                out = putCodePoint(out, c);
            }
        }
        m_sink.commit(out - start);
    }
}

namespace {

// Length of the UTF-8 sequence that starts with this byte; 0 for a byte that cannot start one.
inline int sequenceLength(unsigned char lead)
{
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    return 0;
}

// True when the first `length` bytes at `s` are a well-formed UTF-8 sequence or the start of
// one: no overlong forms, no surrogates, nothing above U+10FFFF.
inline bool wellFormed(const unsigned char* s, int length)
{
    for (int i = 1; i < length; ++i) {
        if ((s[i] & 0xC0) != 0x80)
            return false;
    }
    if (length < 2)
        return true;
    switch (s[0]) {
    case 0xE0:
        return s[1] >= 0xA0;
    case 0xED:
        return s[1] <= 0x9F;
    case 0xF0:
        return s[1] >= 0x90;
    case 0xF4:
        return s[1] <= 0x8F;
    default:
        return true;
    }
}

// True when `have` bytes can still grow into a sequence.
inline bool couldContinue(const unsigned char* s, int have)
{
    return have < sequenceLength(s[0]) && wellFormed(s, have);
}

// The bytes of a broken sequence that one U+FFFD stands for: the lead and the continuation bytes
// that still fitted it (the "maximal subpart" readers expect), at least the lead.
inline int brokenPrefix(const unsigned char* s, int available)
{
    int length = 1;
    while (length < available && wellFormed(s, length + 1))
        ++length;
    return length;
}

constexpr char kReplacementUtf8[] = "\xEF\xBF\xBD";

} // namespace

qsizetype JsonReportWriter::completePendingUtf8(const char* data, qsizetype size)
{
    // The previous piece ended inside a sequence: take its remaining bytes from this one.
    const auto* lead = reinterpret_cast<const unsigned char*>(m_pendingUtf8);
    const int need = sequenceLength(lead[0]);
    qsizetype used = 0;
    while (m_pendingUtf8Size < need && used < size) {
        m_pendingUtf8[m_pendingUtf8Size++] = data[used++];
        if (!wellFormed(lead, m_pendingUtf8Size)) {
            // Not a continuation: the pending bytes are invalid, the byte is read again.
            --m_pendingUtf8Size;
            --used;
            m_sink.write(kReplacementUtf8, 3);
            m_pendingUtf8Size = 0;
            return used;
        }
    }
    if (m_pendingUtf8Size == need) {
        m_sink.write(m_pendingUtf8, need);
        m_pendingUtf8Size = 0;
    }
    return used;
}

void JsonReportWriter::appendUtf8(const char* data, qsizetype size)
{
    qsizetype i = m_pendingUtf8Size ? completePendingUtf8(data, size) : 0;
    const auto* bytes = reinterpret_cast<const unsigned char*>(data);
    while (i < size) {
        const qsizetype run = std::min<qsizetype>(size - i, m_sink.pieceSize() / kMaxUnitBytes);
        char* const start = m_sink.reserve(run * kMaxUnitBytes);
        char* out = start;
        const qsizetype stop = i + run;
        while (i < stop) {
            const unsigned char c = bytes[i];
            if (c >= 0x20 && c < 0x80 && c != '"' && c != '\\') {
                *out++ = char(c);
                ++i;
            } else if (c < 0x80) {
                out = putEscapedAscii(out, c);
                ++i;
            } else if (const int length = sequenceLength(c); length == 0) {
                out = putCodePoint(out, kReplacement);
                ++i;
            } else if (i + length > size) {
                // Cut at the end of the piece: keep what is there for the next piece, unless it
                // is already wrong.
                const int have = int(size - i);
                if (couldContinue(bytes + i, have)) {
                    std::memcpy(m_pendingUtf8, bytes + i, size_t(have));
                    m_pendingUtf8Size = have;
                    i = size;
                } else {
                    out = putCodePoint(out, kReplacement);
                    i += brokenPrefix(bytes + i, have);
                }
            } else if (!wellFormed(bytes + i, length)) {
                out = putCodePoint(out, kReplacement);
                i += brokenPrefix(bytes + i, length);
            } else {
                // A sequence may reach past this run's end; the room reserved covers it (at most
                // 3 more bytes against 6 per input byte).
                std::memcpy(out, bytes + i, size_t(length));
                out += length;
                i += length;
            }
        }
        m_sink.commit(out - start);
    }
}

void JsonReportWriter::endValue()
{
    // A sequence or a surrogate pair still waiting for its end never gets it.
    if (m_pendingUtf8Size)
        m_sink.write(kReplacementUtf8, 3);
    if (m_pendingHigh)
        m_sink.write(kReplacementUtf8, 3);
    m_pendingUtf8Size = 0;
    m_pendingHigh = 0;
    m_sink.put('"');
}

void JsonReportWriter::end(const QString& footer)
{
    m_sink.put(']');
    if (!footer.isEmpty())
        m_sink.write(",\"footer\":" + quoted(footer));
    m_sink.put('}');
    m_sink.flush();
}
