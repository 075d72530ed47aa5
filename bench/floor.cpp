// The native floors: the same report document as the agent writes, made by a small program on
// plain unixODBC with nothing between it and the driver.
//   tallyframe-floor CONNSTR SQL RAW_PORT
//     typed: each column fetched by its declared type and converted, text as the driver's own
//     UTF-8 in 4 KiB pieces; the document streamed in 1 MiB pieces to the sink's raw port.
//   tallyframe-floor --text [--utf16] [--block] CONNSTR SQL HTTP_PORT SPOOL_FILE
//     text: every column fetched as the driver's text (SQL_C_CHAR, or SQL_C_WCHAR with
//     --utf16), only floats, time stamps and booleans brought into the document's form; the
//     document written to a file in 1 MiB pieces, then posted with its Content-Length to the
//     sink's HTTP port (sendfile). The least work for a program that must announce the length.
//     --block: every column bound, 64 rows per SQLFetch, no SQLGetData (every value of the
//     bench's table fits a 512-byte buffer; a longer one stops the floor).
// Prints seconds=... peak_rss_kb=... bytes=... on success.
#include <sql.h>
#include <sqlext.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char kFooter[] = "Query termutakhir pada: 2026-12-07 10:15:00 | Cx7055475";

[[noreturn]] void die(const char* what, SQLSMALLINT type = 0, SQLHANDLE handle = nullptr)
{
    std::fprintf(stderr, "floor: %s failed", what);
    if (handle) {
        SQLCHAR state[6], text[512];
        SQLINTEGER native;
        SQLSMALLINT length;
        if (SQL_SUCCEEDED(
                SQLGetDiagRec(type, handle, 1, state, &native, text, sizeof text, &length)))
            std::fprintf(stderr, ": %s %s", state, text);
    }
    std::fprintf(stderr, "\n");
    std::exit(1);
}

class Out
{
public:
    explicit Out(int fd) : m_fd(fd) { m_buffer.reserve(kPiece); }
    void write(const char* data, size_t size)
    {
        if (m_buffer.size() + size > kPiece)
            flush();
        m_buffer.insert(m_buffer.end(), data, data + size);
    }
    void put(char c) { write(&c, 1); }
    void flush()
    {
        size_t done = 0;
        while (done < m_buffer.size()) {
            const ssize_t n = ::write(m_fd, m_buffer.data() + done, m_buffer.size() - done);
            if (n <= 0)
                die("write");
            done += size_t(n);
        }
        m_total += m_buffer.size();
        m_buffer.clear();
    }
    size_t total() const { return m_total + m_buffer.size(); }

private:
    static constexpr size_t kPiece = 1 << 20;
    int m_fd;
    std::vector<char> m_buffer;
    size_t m_total = 0;
};

void escaped(Out& out, const char* data, size_t size)
{
    static const char hex[] = "0123456789abcdef";
    size_t run = 0;
    for (size_t i = 0; i < size; ++i) {
        const unsigned char c = static_cast<unsigned char>(data[i]);
        if (c >= 0x20 && c != '"' && c != '\\')
            continue;
        out.write(data + run, i - run);
        run = i + 1;
        char e[6] = {'\\', 0, 0, 0, 0, 0};
        size_t n = 2;
        switch (c) {
        case '"':
            e[1] = '"';
            break;
        case '\\':
            e[1] = '\\';
            break;
        case '\n':
            e[1] = 'n';
            break;
        case '\r':
            e[1] = 'r';
            break;
        case '\t':
            e[1] = 't';
            break;
        case '\b':
            e[1] = 'b';
            break;
        case '\f':
            e[1] = 'f';
            break;
        default:
            e[1] = 'u';
            e[2] = '0';
            e[3] = '0';
            e[4] = hex[c >> 4];
            e[5] = hex[c & 15];
            n = 6;
        }
        out.write(e, n);
    }
    out.write(data + run, size - run);
}

void quoted(Out& out, const std::string& s)
{
    out.put('"');
    escaped(out, s.data(), s.size());
    out.put('"');
}

enum Kind
{
    Text,
    Number,
    Double,
    Single,
    Date,
    Time,
    Stamp,
    Bit,
    BoolText,
    Binary
};

Kind kindOf(SQLSMALLINT type, const char* typeName)
{
    switch (type) {
    case SQL_DOUBLE:
    case SQL_FLOAT:
        return Double;
    case SQL_REAL:
        return Single;
    case SQL_TYPE_DATE:
    case SQL_DATE:
        return Date;
    case SQL_TYPE_TIME:
    case SQL_TIME:
        return Time;
    case SQL_TYPE_TIMESTAMP:
    case SQL_TIMESTAMP:
        return Stamp;
    case SQL_BIT:
        return Bit;
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER:
    case SQL_BIGINT:
    case SQL_DECIMAL:
    case SQL_NUMERIC:
        return Number;
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY:
        return Binary;
    default:
        break;
    }
    if (!strcasecmp(typeName, "bool") || !strcasecmp(typeName, "boolean"))
        return BoolText;
    return Text;
}

void digits(char*& p, unsigned v, int n)
{
    for (int i = n - 1; i >= 0; --i) {
        p[i] = char('0' + v % 10);
        v /= 10;
    }
    p += n;
}

// --- text floor ----------------------------------------------------------------------------

// UTF-16 to UTF-8, escaped as JSON wants; a pair split between pieces is kept for the next one.
struct Utf16Escaper
{
    char16_t pendingHigh = 0;
    void write(Out& out, const char16_t* data, size_t size)
    {
        char buffer[4096 * 3 + 16];
        size_t n = 0;
        for (size_t i = 0; i < size; ++i) {
            char32_t c = data[i];
            if (pendingHigh) {
                c = 0x10000 + ((char32_t(pendingHigh) - 0xD800) << 10) + (c - 0xDC00);
                pendingHigh = 0;
            } else if (c >= 0xD800 && c <= 0xDBFF) {
                pendingHigh = char16_t(c);
                continue;
            }
            if (c < 0x80) {
                if (c >= 0x20 && c != '"' && c != '\\') {
                    buffer[n++] = char(c);
                } else {
                    out.write(buffer, n);
                    n = 0;
                    const char one = char(c);
                    escaped(out, &one, 1);
                }
            } else if (c < 0x800) {
                buffer[n++] = char(0xC0 | (c >> 6));
                buffer[n++] = char(0x80 | (c & 0x3F));
            } else if (c < 0x10000) {
                buffer[n++] = char(0xE0 | (c >> 12));
                buffer[n++] = char(0x80 | ((c >> 6) & 0x3F));
                buffer[n++] = char(0x80 | (c & 0x3F));
            } else {
                buffer[n++] = char(0xF0 | (c >> 18));
                buffer[n++] = char(0x80 | ((c >> 12) & 0x3F));
                buffer[n++] = char(0x80 | ((c >> 6) & 0x3F));
                buffer[n++] = char(0x80 | (c & 0x3F));
            }
        }
        out.write(buffer, n);
    }
};

int connectTo(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        die("connect to the sink");
    return fd;
}

int textFloor(bool utf16, bool block, const char* connStr, const char* sql, int httpPort,
              const char* spool)
{
    const auto start = std::chrono::steady_clock::now();
    SQLHENV env;
    SQLHDBC dbc;
    SQLHSTMT st;
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<void*>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
    if (!SQL_SUCCEEDED(SQLDriverConnect(dbc, nullptr, (SQLCHAR*)connStr, SQL_NTS, nullptr, 0,
                                        nullptr, SQL_DRIVER_NOPROMPT)))
        die("SQLDriverConnect", SQL_HANDLE_DBC, dbc);
    SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st);
    if (!SQL_SUCCEEDED(SQLExecDirect(st, (SQLCHAR*)sql, SQL_NTS)))
        die("SQLExecDirect", SQL_HANDLE_STMT, st);

    const int file = ::open(spool, O_RDWR | O_CREAT | O_TRUNC, 0600);
    if (file < 0)
        die("open the spool file");
    Out out(file);
    SQLSMALLINT columns = 0;
    SQLNumResultCols(st, &columns);
    std::vector<Kind> kinds;
    std::vector<SQLLEN> pieces;
    std::vector<std::string> prefixes;
    out.write("{\"title\":\"Bench\",\"fileName\":\"bench\",\"header\":[", 46);
    for (SQLUSMALLINT i = 1; i <= columns; ++i) {
        SQLCHAR name[256] = {};
        SQLSMALLINT nameLength, type, scale, nullable;
        SQLULEN size;
        SQLDescribeCol(st, i, name, sizeof name, &nameLength, &type, &size, &scale, &nullable);
        char typeName[64] = {};
        SQLSMALLINT typeNameLength;
        SQLColAttribute(st, i, SQL_DESC_TYPE_NAME, typeName, sizeof typeName, &typeNameLength,
                        nullptr);
        kinds.push_back(kindOf(type, typeName));
        // Short pieces for short values: some drivers clear the whole buffer on every call.
        pieces.push_back(kinds.back() == Text ? 4096 : 64);
        if (i > 1)
            out.put(',');
        quoted(out, reinterpret_cast<char*>(name));
        std::string prefix = i > 1 ? ",\"" : "\"";
        prefix += reinterpret_cast<char*>(name);
        prefix += "\":\"";
        prefixes.push_back(prefix);
    }
    out.write("],\"data\":[", 10);

    std::vector<char> piece(4096);
    Utf16Escaper wide;
    const SQLSMALLINT cType = utf16 ? SQL_C_WCHAR : SQL_C_CHAR;
    const size_t unit = utf16 ? 2 : 1;
    constexpr SQLULEN kBlock = 64;
    constexpr SQLLEN kWidth = 512;
    std::vector<char> bound(block ? size_t(columns) * kBlock * kWidth : 0);
    std::vector<SQLLEN> indicators(bound.size() / kWidth);
    SQLULEN fetched = 1;
    if (block) {
        SQLSetStmtAttr(st, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(kBlock), 0);
        SQLSetStmtAttr(st, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0);
        for (SQLUSMALLINT c = 0; c < columns; ++c)
            SQLBindCol(st, SQLUSMALLINT(c + 1), cType, &bound[c * kBlock * kWidth], kWidth,
                       &indicators[c * kBlock]);
    }
    long long rows = 0;
    for (;;) {
        const SQLRETURN rc = SQLFetch(st);
        if (rc == SQL_NO_DATA)
            break;
        if (!SQL_SUCCEEDED(rc))
            die("SQLFetch", SQL_HANDLE_STMT, st);
        for (SQLULEN row = 0; row < fetched; ++row) {
            if (rows++ > 0)
                out.put(',');
            out.put('{');
            for (SQLUSMALLINT c = 0; c < columns; ++c) {
                out.write(prefixes[c].data(), prefixes[c].size());
                const SQLLEN size = block ? kWidth : pieces[c];
                for (;;) {
                    SQLLEN ind = 0;
                    SQLRETURN r = SQL_SUCCESS;
                    if (block) {
                        ind = indicators[c * kBlock + row];
                        if (ind == SQL_NO_TOTAL || ind > kWidth - SQLLEN(unit))
                            die("a value longer than the bound buffer");
                        if (ind > 0)
                            std::memcpy(piece.data(), &bound[(c * kBlock + row) * kWidth],
                                        size_t(ind));
                    } else {
                        r = SQLGetData(st, SQLUSMALLINT(c + 1), cType, piece.data(), size, &ind);
                    }
                    if (r == SQL_NO_DATA || ind == SQL_NULL_DATA)
                        break;
                    if (!SQL_SUCCEEDED(r))
                        die("SQLGetData", SQL_HANDLE_STMT, st);
                    const bool more = ind == SQL_NO_TOTAL || ind > size - SQLLEN(unit);
                    const size_t n = more ? size_t(size) / unit - 1 : size_t(ind) / unit;
                    if (utf16) {
                        const auto* units = reinterpret_cast<const char16_t*>(piece.data());
                        if (kinds[c] == Text || kinds[c] == Number || more) {
                            wide.write(out, units, n);
                            if (!more)
                                break;
                            continue;
                        }
                        for (size_t i = 0; i < n; ++i)
                            piece[i] = char(units[i]);
                    }
                    // Only the forms that differ from the driver's text are made.
                    char text[48];
                    char* p = text;
                    switch (kinds[c]) {
                    case Double:
                    case Single: {
                        double v = 0;
                        const auto read = std::from_chars(piece.data(), piece.data() + n, v);
                        p = read.ptr == piece.data() + n
                                ? (kinds[c] == Double
                                       ? std::to_chars(text, text + 40, v).ptr
                                       : std::to_chars(text, text + 40, float(v)).ptr)
                                : nullptr;
                        break;
                    }
                    case Stamp:
                        p = n > 19 ? std::copy(piece.data(), piece.data() + 19, text) : nullptr;
                        break;
                    case Bit:
                    case BoolText:
                        p = n == 1
                                ? std::strcpy(text, piece[0] == '1' || piece[0] == 't' ? "True"
                                                                                       : "False") +
                                      (piece[0] == '1' || piece[0] == 't' ? 4 : 5)
                                : nullptr;
                        break;
                    default:
                        p = nullptr;
                    }
                    if (p)
                        out.write(text, size_t(p - text));
                    else
                        escaped(out, piece.data(), n);
                    if (!more)
                        break;
                }
                out.put('"');
            }
            out.put('}');
        }
    }
    out.write("],\"footer\":", 11);
    quoted(out, kFooter);
    out.put('}');
    out.flush();
    SQLFreeHandle(SQL_HANDLE_STMT, st);
    SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);

    // The upload, with the length known: a head, then the file through the kernel.
    const off_t length = ::lseek(file, 0, SEEK_END);
    const int fd = connectTo(httpPort);
    const std::string head = "POST /api/save-json.php HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                             "Content-Type: application/json\r\nContent-Length: " +
                             std::to_string(length) + "\r\nConnection: close\r\n\r\n";
    if (::write(fd, head.data(), head.size()) != ssize_t(head.size()))
        die("send the request head");
    off_t offset = 0;
    while (offset < length) {
        if (::sendfile(fd, file, &offset, size_t(length - offset)) <= 0)
            die("sendfile");
    }
    // The answer: its head, then as many bytes as it announces (the sink may keep the
    // connection open).
    std::string reply;
    char drain[4096];
    size_t bodyAt = std::string::npos, expected = 0;
    for (ssize_t n; (n = ::recv(fd, drain, sizeof drain, 0)) > 0;) {
        reply.append(drain, size_t(n));
        if (bodyAt == std::string::npos && (bodyAt = reply.find("\r\n\r\n")) != std::string::npos) {
            bodyAt += 4;
            std::string head = reply.substr(0, bodyAt);
            for (char& ch : head)
                ch = char(std::tolower(static_cast<unsigned char>(ch)));
            const size_t at = head.find("content-length:");
            expected = at == std::string::npos ? 0 : size_t(std::atoll(head.c_str() + at + 15));
        }
        if (bodyAt != std::string::npos && reply.size() >= bodyAt + expected)
            break;
    }
    ::close(fd);
    ::close(file);
    ::unlink(spool);
    if (reply.compare(0, 12, "HTTP/1.1 200") != 0)
        die("the upload");
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::string answer = bodyAt == std::string::npos ? std::string() : reply.substr(bodyAt);
    for (char& ch : answer)
        if (ch == ' ')
            ch = '_';
    std::printf("seconds=%.3f peak_rss_kb=%ld bytes=%lld rows=%lld reply=%s\n", seconds,
                usage.ru_maxrss, static_cast<long long>(length), rows, answer.c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 2 && std::strcmp(argv[1], "--text") == 0) {
        bool utf16 = false, block = false;
        int first = 2;
        for (; first < argc; ++first) {
            if (std::strcmp(argv[first], "--utf16") == 0)
                utf16 = true;
            else if (std::strcmp(argv[first], "--block") == 0)
                block = true;
            else
                break;
        }
        if (argc != first + 4) {
            std::fprintf(stderr,
                         "usage: %s --text [--utf16] [--block] CONNSTR SQL HTTP_PORT SPOOL_FILE\n",
                         argv[0]);
            return 2;
        }
        return textFloor(utf16, block, argv[first], argv[first + 1], std::atoi(argv[first + 2]),
                         argv[first + 3]);
    }
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s CONNSTR SQL PORT\n", argv[0]);
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();

    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(std::atoi(argv[3])));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        die("connect to the sink");

    SQLHENV env;
    SQLHDBC dbc;
    SQLHSTMT st;
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<void*>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
    if (!SQL_SUCCEEDED(SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(argv[1]), SQL_NTS,
                                        nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT)))
        die("SQLDriverConnect", SQL_HANDLE_DBC, dbc);
    SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st);
    if (!SQL_SUCCEEDED(SQLExecDirect(st, reinterpret_cast<SQLCHAR*>(argv[2]), SQL_NTS)))
        die("SQLExecDirect", SQL_HANDLE_STMT, st);

    SQLSMALLINT columns = 0;
    SQLNumResultCols(st, &columns);
    std::vector<Kind> kinds;
    std::vector<std::string> prefixes;
    Out out(fd);
    const std::string title = "Bench", file = "bench";
    out.write("{\"title\":", 9);
    quoted(out, title);
    out.write(",\"fileName\":", 12);
    quoted(out, file);
    out.write(",\"header\":[", 11);
    for (SQLUSMALLINT i = 1; i <= columns; ++i) {
        SQLCHAR name[256];
        SQLSMALLINT nameLength, type, scale, nullable;
        SQLULEN size;
        SQLDescribeCol(st, i, name, sizeof name, &nameLength, &type, &size, &scale, &nullable);
        char typeName[64] = {};
        SQLSMALLINT typeNameLength;
        SQLColAttribute(st, i, SQL_DESC_TYPE_NAME, typeName, sizeof typeName, &typeNameLength,
                        nullptr);
        kinds.push_back(kindOf(type, typeName));
        if (i > 1)
            out.put(',');
        quoted(out, reinterpret_cast<char*>(name));
        std::string prefix = i > 1 ? "," : "";
        prefix += "\"";
        const std::string n(reinterpret_cast<char*>(name));
        for (char c : n) {
            if (c == '"' || c == '\\')
                prefix += '\\';
            prefix += c;
        }
        prefix += "\":\"";
        prefixes.push_back(prefix);
    }
    out.write("],\"data\":[", 10);

    constexpr SQLLEN kText = 4096, kNumber = 64, kBinary = 3072;
    std::vector<char> piece(kText);
    static const char b64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    long long rows = 0;
    for (;;) {
        const SQLRETURN rc = SQLFetch(st);
        if (rc == SQL_NO_DATA)
            break;
        if (!SQL_SUCCEEDED(rc))
            die("SQLFetch", SQL_HANDLE_STMT, st);
        if (rows++ > 0)
            out.put(',');
        out.put('{');
        for (SQLUSMALLINT c = 0; c < columns; ++c) {
            out.write(prefixes[c].data(), prefixes[c].size());
            const SQLUSMALLINT col = SQLUSMALLINT(c + 1);
            SQLLEN ind = 0;
            char text[48];
            char* p = text;
            switch (kinds[c]) {
            case Text:
            case Number: {
                // Numbers in small pieces: the driver may clear the whole buffer per call.
                const SQLLEN size = kinds[c] == Text ? kText : kNumber;
                for (;;) {
                    const SQLRETURN r = SQLGetData(st, col, SQL_C_CHAR, piece.data(), size, &ind);
                    if (r == SQL_NO_DATA || ind == SQL_NULL_DATA)
                        break;
                    if (!SQL_SUCCEEDED(r))
                        die("SQLGetData", SQL_HANDLE_STMT, st);
                    const bool more = ind == SQL_NO_TOTAL || ind >= size;
                    escaped(out, piece.data(), more ? size_t(size - 1) : size_t(ind));
                    if (!more)
                        break;
                }
                break;
            }
            case Binary:
                for (;;) {
                    const SQLRETURN r =
                        SQLGetData(st, col, SQL_C_BINARY, piece.data(), kBinary, &ind);
                    if (r == SQL_NO_DATA || ind == SQL_NULL_DATA)
                        break;
                    if (!SQL_SUCCEEDED(r))
                        die("SQLGetData", SQL_HANDLE_STMT, st);
                    const bool more = ind == SQL_NO_TOTAL || ind > kBinary;
                    const size_t n = more ? size_t(kBinary) : size_t(ind);
                    const auto* b = reinterpret_cast<const unsigned char*>(piece.data());
                    for (size_t i = 0; i < n; i += 3) {
                        const unsigned v = (b[i] << 16) | ((i + 1 < n ? b[i + 1] : 0) << 8) |
                                           (i + 2 < n ? b[i + 2] : 0);
                        const char q[4] = {b64[v >> 18], b64[(v >> 12) & 63],
                                           i + 1 < n ? b64[(v >> 6) & 63] : '=',
                                           i + 2 < n ? b64[v & 63] : '='};
                        out.write(q, 4);
                    }
                    if (!more)
                        break;
                }
                break;
            case Double: {
                double v;
                if (!SQL_SUCCEEDED(SQLGetData(st, col, SQL_C_DOUBLE, &v, 0, &ind)))
                    die("SQLGetData", SQL_HANDLE_STMT, st);
                if (ind != SQL_NULL_DATA)
                    p = std::to_chars(text, text + sizeof text, v).ptr;
                break;
            }
            case Single: {
                float v;
                if (!SQL_SUCCEEDED(SQLGetData(st, col, SQL_C_FLOAT, &v, 0, &ind)))
                    die("SQLGetData", SQL_HANDLE_STMT, st);
                if (ind != SQL_NULL_DATA)
                    p = std::to_chars(text, text + sizeof text, v).ptr;
                break;
            }
            case Date: {
                SQL_DATE_STRUCT v;
                if (!SQL_SUCCEEDED(SQLGetData(st, col, SQL_C_TYPE_DATE, &v, sizeof v, &ind)))
                    die("SQLGetData", SQL_HANDLE_STMT, st);
                if (ind != SQL_NULL_DATA) {
                    digits(p, unsigned(v.year), 4);
                    *p++ = '-';
                    digits(p, v.month, 2);
                    *p++ = '-';
                    digits(p, v.day, 2);
                }
                break;
            }
            case Time: {
                SQL_TIME_STRUCT v;
                if (!SQL_SUCCEEDED(SQLGetData(st, col, SQL_C_TYPE_TIME, &v, sizeof v, &ind)))
                    die("SQLGetData", SQL_HANDLE_STMT, st);
                if (ind != SQL_NULL_DATA) {
                    digits(p, v.hour, 2);
                    *p++ = ':';
                    digits(p, v.minute, 2);
                    *p++ = ':';
                    digits(p, v.second, 2);
                }
                break;
            }
            case Stamp: {
                SQL_TIMESTAMP_STRUCT v;
                if (!SQL_SUCCEEDED(SQLGetData(st, col, SQL_C_TYPE_TIMESTAMP, &v, sizeof v, &ind)))
                    die("SQLGetData", SQL_HANDLE_STMT, st);
                if (ind != SQL_NULL_DATA) {
                    digits(p, unsigned(v.year), 4);
                    *p++ = '-';
                    digits(p, v.month, 2);
                    *p++ = '-';
                    digits(p, v.day, 2);
                    *p++ = ' ';
                    digits(p, v.hour, 2);
                    *p++ = ':';
                    digits(p, v.minute, 2);
                    *p++ = ':';
                    digits(p, v.second, 2);
                }
                break;
            }
            case Bit: {
                unsigned char v;
                if (!SQL_SUCCEEDED(SQLGetData(st, col, SQL_C_BIT, &v, 0, &ind)))
                    die("SQLGetData", SQL_HANDLE_STMT, st);
                if (ind != SQL_NULL_DATA)
                    p = std::strcpy(text, v ? "True" : "False") + (v ? 4 : 5);
                break;
            }
            case BoolText: {
                char v[8] = {};
                if (!SQL_SUCCEEDED(SQLGetData(st, col, SQL_C_CHAR, v, sizeof v, &ind)))
                    die("SQLGetData", SQL_HANDLE_STMT, st);
                if (ind != SQL_NULL_DATA) {
                    const bool yes = v[0] == '1' || v[0] == 't' || v[0] == 'T';
                    p = std::strcpy(text, yes ? "True" : "False") + (yes ? 4 : 5);
                }
                break;
            }
            }
            out.write(text, size_t(p - text));
            out.put('"');
        }
        out.put('}');
    }
    out.write("],\"footer\":", 11);
    quoted(out, kFooter);
    out.put('}');
    out.flush();
    SQLFreeHandle(SQL_HANDLE_STMT, st);
    SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);

    // Done when the sink has read everything: it closes its side after the end of the stream.
    ::shutdown(fd, SHUT_WR);
    char drain[64];
    while (::recv(fd, drain, sizeof drain, 0) > 0) {
    }
    ::close(fd);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("seconds=%.3f peak_rss_kb=%ld bytes=%zu rows=%lld\n", seconds, usage.ru_maxrss,
                out.total(), rows);
    return 0;
}
