// What an HTTP call to the service returns, and how it fails.
#pragma once

#include "AgentError.h"

#include <QByteArray>
#include <QLoggingCategory>
#include <QString>

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

} // namespace HttpTransport
