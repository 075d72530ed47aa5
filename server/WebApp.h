// The pages people open in their browsers: the query editor (/api/ReportQ.php), the report viewer
// (/api/report.php) behind one login, and the product site pages. Pages are templates from the
// resources; every value from the store goes into them HTML-escaped. Every form carries a token
// of its session (the login form one of a cookie of its own), and a POST from another origin is
// refused.
#pragma once

#include "FailureThrottle.h"
#include "HttpReply.h"
#include "ReportDocument.h"
#include "ReportView.h"
#include "TallyStore.h"

#include <QDateTime>
#include <QHash>
#include <QString>
#include <optional>

class QHttpServerRequest;
class FormFields;

class WebApp
{
public:
    explicit WebApp(TallyStore& store);

    HttpReply editorPage(const QHttpServerRequest& request);
    HttpReply reportPage(const QHttpServerRequest& request);
    HttpReply sitePage(const QString& page);
    HttpReply staticFile(const QString& name);
    // The company's agent asked for work just now: the editor shows when it was last seen.
    void notePoll(qint64 companyId);

    static constexpr int rowsPerPage = 200;
    static constexpr const char* sessionCookie = "tf_session";
    static constexpr const char* loginCookie = "tf_login";

private:
    struct Session
    {
        qint64 companyId = 0;
        QDateTime lastSeen;
        QByteArray csrf;
    };
    struct SignedIn
    {
        TallyStore::Company company;
        QByteArray csrf;
    };
    struct Page
    {
        QString path, heading;
    };

    std::optional<SignedIn> signedIn(const QHttpServerRequest& request);
    // A POST that did not come from a form of this service: refused before it changes anything.
    std::optional<HttpReply> refuseForeignPost(const QHttpServerRequest& request,
                                               const FormFields& form,
                                               const std::optional<SignedIn>& session) const;
    HttpReply login(const QHttpServerRequest& request, const FormFields& form, const Page& page);
    HttpReply logout(const QHttpServerRequest& request);
    HttpReply loginPage(const QHttpServerRequest& request, const Page& page, const QString& error,
                        int status = 200);
    HttpReply editorAction(const SignedIn& session, const FormFields& form);
    QString agentStatus(qint64 companyId) const;
    QString requestTable(const SignedIn& session) const;
    QString savedQueryTable(const SignedIn& session) const;
    HttpReply reportList(const SignedIn& session);
    HttpReply reportView(const SignedIn& session, const TallyStore::Report& report,
                         const QHttpServerRequest& request);
    HttpReply reportDownload(const TallyStore::Report& report, const QString& format);
    HttpReply notFoundPage(const SignedIn& session, const QString& message);
    const ReportDocument* document(qint64 reportId);
    QString layout(const QString& title, const QString& content,
                   const std::optional<SignedIn>& session) const;

    TallyStore& m_store;
    QHash<QByteArray, Session> m_sessions;
    QHash<qint64, QDateTime> m_lastPoll;
    FailureThrottle m_loginThrottle;
    // The last report opened, parsed, with its column kinds and the rows of its last search and
    // sort: paging through a large report parses and sorts it only once.
    qint64 m_cachedReportId = 0;
    std::optional<ReportDocument> m_cachedReport;
    QList<ReportView::ColumnKind> m_cachedKinds;
    QString m_cachedViewKey;
    QList<qsizetype> m_cachedRows;
};
