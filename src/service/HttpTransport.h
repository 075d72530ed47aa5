// The one way the agent talks HTTP: synchronous calls that keep the window painting.
#pragma once

#include "AgentError.h"

#include <QByteArray>
#include <QLoggingCategory>
#include <QString>

#include <exception>

class QIODevice;
class QNetworkProxy;

Q_DECLARE_LOGGING_CATEGORY(lcService)

// A request that got no HTTP response at all. Callers decide whether to catch it, the way
// they would decide for a raised error of the platform's request object.
class TransportError : public AgentError
{
public:
    using AgentError::AgentError;
};

struct TransportReply
{
    int status = 0;
    QByteArray body;
    QString text() const { return QString::fromUtf8(body); }
};

namespace HttpTransport {

// Stable numbers per kind of transport failure. "Unreachable" keeps the word "system" in its
// description: the poll takes that word as the sign of a lost connection.
enum FailureNumber : qint32
{
    Unreachable = -2146697211,    // host not found, refused, reset, unreachable, timed out
    DownloadFailed = -2146697208, // the answer broke off or could not be read
    SecurityProblem = -2146697202,
    InvalidUrl = -2146697214,
    Unspecified = -2147467259,
};

// The most an answer may hold in memory; a longer one fails like a broken transfer.
inline constexpr qint64 kMaxAnswerBytes = qint64(16) << 20;

TransportReply get(const QString& url);
TransportReply post(const QString& url, const QByteArray& contentType, const QByteArray& body);
// Streams the body from an open device of known size (large report uploads).
TransportReply postDevice(const QString& url, const QByteArray& contentType, QIODevice* body,
                          qint64 size);

// Time-out for one call; TALLYFRAME_HTTP_TIMEOUT_MS overrides the default of 30 s.
int timeoutMs();
void setTimeoutMs(int ms);

// The proxy of every later call on this thread, instead of the system's look-up per call.
void setThreadProxy(const QNetworkProxy& proxy);

// Deletes this thread's network manager while the thread's events still run, so that what it
// leaves to be deleted later goes too: before a thread of calls ends.
void releaseThreadManager();

// True while a call waits for its answer: timers use it to skip a tick instead of overlapping.
bool busy();

} // namespace HttpTransport
