// The pages people open in their browsers: the query editor (/api/ReportQ.php), the report viewer
// (/api/report.php) behind one login, and the product site pages. Pages are templates from the
// resources; every value from the store goes into them HTML-escaped.
#pragma once

#include "HttpReply.h"
#include "ReportDocument.h"
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

    static constexpr int rowsPerPage = 200;
    static constexpr const char* sessionCookie = "tf_session";

private:
    struct Session
    {
        qint64 companyId = 0;
        QDateTime lastSeen;
    };

    std::optional<TallyStore::Company> signedInCompany(const QHttpServerRequest& request);
    HttpReply login(const FormFields& form, const QString& page, const QString& heading);
    HttpReply logout(const QHttpServerRequest& request);
    HttpReply loginPage(const QString& page, const QString& heading, const QString& error);
    HttpReply reportList(const TallyStore::Company& company);
    HttpReply reportView(const TallyStore::Company& company, const TallyStore::Report& report,
                         const QHttpServerRequest& request);
    HttpReply reportDownload(const TallyStore::Report& report, const QString& format);
    HttpReply notFoundPage(const TallyStore::Company& company, const QString& message);
    const ReportDocument* document(qint64 reportId);
    QString layout(const QString& title, const QString& content,
                   const std::optional<TallyStore::Company>& company) const;

    TallyStore& m_store;
    QHash<QByteArray, Session> m_sessions;
    // The last report opened, parsed: paging through a large report parses it only once.
    qint64 m_cachedReportId = 0;
    std::optional<ReportDocument> m_cachedReport;
};
