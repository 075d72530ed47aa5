// The pipeline's side of the reporting service: asking for the next report request, uploading a
// report document, and flagging a request done.
#pragma once

#include <QByteArray>
#include <QLoggingCategory>
#include <QString>

class QIODevice;
class ServiceClient;
struct TransportReply;

Q_DECLARE_LOGGING_CATEGORY(lcPipeline)

// The next request of the company: the reply with bare LF made CR LF. Throws TransportError.
QString PollReportRequest(ServiceClient& service, const QString& companyName);

// What the text box shows of a text: each line cut after kShownLineChars characters and at most
// kShownLines lines, so that a reply of megabytes on one line is not laid out on the window's
// thread. Whatever acts on the text uses it whole.
inline constexpr qsizetype kShownLineChars = 4000;
inline constexpr qsizetype kShownLines = 2000;
QString TextBoxView(const QString& text);

// "Flag=" + flag + "&Urut=" + urut + "&updateDtModified=1", values as they are.
QByteArray UpdateFlagBody(qint32 urut, const QString& flag);
// "Response: " + the reply for status 200, else "Failed to update. HTTP Status: " + status.
// Throws TransportError when no answer comes at all.
QString UpdateFlag(ServiceClient& service, qint32 urut, const QString& flag);

// Posts a report document as JSON, streamed from a device of known size. Throws TransportError.
TransportReply UploadReport(ServiceClient& service, QIODevice* document, qint64 size);
