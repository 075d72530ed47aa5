// Storage of the reporting service: companies (one per device), report requests and received
// reports, in SQLite at <dataDir>/service.db; report documents as files under <dataDir>/reports,
// published update files under <dataDir>/app.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <QVariant>
#include <optional>

class QSqlDatabase;
class QSqlQuery;

class TallyStore
{
public:
    explicit TallyStore(const QString& dataDir);
    ~TallyStore();
    TallyStore(const TallyStore&) = delete;
    TallyStore& operator=(const TallyStore&) = delete;

    bool open(QString* error = nullptr);
    bool isOpen() const;
    QString dataDir() const;
    QString appDir() const;

    struct Company
    {
        qint64 id = 0;
        QString name, apiKey, telp, connStr, deviceName;
        int appHide = 0;
    };
    std::optional<Company> companyByDevice(const QString& deviceName) const;
    std::optional<Company> companyByApiKey(const QString& apiKey) const;
    // Names are unique without regard to letter case, and looked up the same way.
    std::optional<Company> companyByName(const QString& name) const;
    std::optional<Company> companyById(qint64 id) const;
    // Creates a company with a fresh random API key (or the given one); returns it, with id 0 when
    // it could not be stored (a name or device that is taken).
    Company createCompany(const QString& name, const QString& deviceName, const QString& telp = {},
                          const QString& connStr = {}, int appHide = 0, const QString& apiKey = {});
    bool updateCompany(const Company& company);
    // 32 hexadecimal digits from the system's cryptographic random source.
    static QString newApiKey();

    struct Request
    {
        qint64 urut = 0;
        qint64 companyId = 0;
        QString sql, fileName, title;
        bool done = false;
        int timesHandedOut = 0;
        QDateTime created;
        QDateTime lastHandedOut; // invalid until the first hand-out
        QDateTime modified;      // last flag change
        // 32 hexadecimal digits handed out with the request and expected back with its report;
        // the only thing an upload is matched by.
        QString token;
    };
    // Returns the new request's Urut, 0 on failure.
    qint64 queueRequest(qint64 companyId, const QString& sql, const QString& fileName,
                        const QString& title);
    QList<Request> requests(qint64 companyId) const; // newest first
    std::optional<Request> request(qint64 urut) const;
    std::optional<Request> oldestPendingRequest(qint64 companyId) const;
    // Returns the request's token, made at the first hand-out of a request stored without one.
    QString recordHandOut(const Request& request);
    std::optional<qint64> lastHandedOutUrut(qint64 companyId) const;
    bool setRequestDone(qint64 urut, bool done, bool touchModified);
    bool deletePendingRequest(qint64 companyId, qint64 urut);
    // The pending, handed-out request that carries this token.
    std::optional<Request> requestByToken(const QString& token) const;

    struct Report
    {
        qint64 id = 0;
        qint64 companyId = 0;
        qint64 urut = 0;
        QString fileName, title;
        QDateTime received;
        QByteArray document; // filled by report() only
        qint64 rowCount = 0;
        qint64 size = 0;
    };
    // Stores the document bytes as they are; returns the report id, 0 on failure.
    qint64 addReport(const Report& info, const QByteArray& document, QString* error = nullptr);
    // The same, with the document given as pieces written one after the other, so that a large
    // upload with a few bytes left out is never copied in memory.
    qint64 addReport(const Report& info, const QList<QByteArrayView>& pieces,
                     QString* error = nullptr);
    // The newest report of each request of a company, by Urut.
    QHash<qint64, qint64> latestReportByUrut(qint64 companyId) const;

    // Queries kept under a name in the editor, to be run again in one click.
    struct SavedQuery
    {
        qint64 id = 0;
        qint64 companyId = 0;
        QString name, sql, fileName, title;
    };
    // Saving under a name the company already uses replaces that query. Returns the id, 0 on
    // failure.
    qint64 saveQuery(const SavedQuery& query);
    QList<SavedQuery> savedQueries(qint64 companyId) const; // by name
    std::optional<SavedQuery> savedQuery(qint64 companyId, qint64 id) const;
    bool deleteSavedQuery(qint64 companyId, qint64 id);
    QList<Report> reports(qint64 companyId) const; // newest first, without documents
    std::optional<Report> report(qint64 id) const; // with its document
    std::optional<Report> reportInfo(qint64 id) const;
    QString reportPath(qint64 id) const;

private:
    QSqlDatabase database() const;
    std::optional<QSqlQuery> run(const QString& sql, const QVariantList& values = {}) const;
    std::optional<Company> companyWhere(const QString& condition, const QVariant& value) const;
    std::optional<Request> requestWhere(const QString& condition, const QVariantList& values) const;

    QString m_dataDir;
    QString m_connectionName;
};
