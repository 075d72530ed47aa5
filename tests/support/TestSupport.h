// Shared test helpers: scripted dialogs, an in-process reference service, SQLite fixtures.
#pragma once

#include "service/ServiceClient.h"
#include "ui/Dialogs.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>

#ifdef Q_OS_WIN
#include "FaultInjector.h"

#include <QMap>

// The service beside the test (a Linux process), as far as tests steer it: its fault mode and
// its counters, over HTTP. It stands where the in-process TallyServer is on Linux.
class TallyServer
{
public:
    explicit TallyServer(const QString& baseUrl) : m_baseUrl(baseUrl) {}
    bool setFaults(const FaultConfig& faults);
    QMap<QString, qint64> stats() const;

private:
    QString m_baseUrl;
};
#else
#include "TallyServer.h"
#endif
#include "TallyStore.h"

// Answers every box the agent shows and records what it showed, what it opened and how often it
// ended itself, instead of doing any of it.
class ScriptedDialogs : public Dialogs
{
public:
    struct Shown
    {
        QString kind; // "message", "yesno", "input", "modal"
        QString text;
        int style = 0;
        QString title;
        QString defaultText;
    };

    void messageBox(const QString& text, int style, const QString& title) override;
    bool askYesNo(const QString& text, int style, const QString& title) override;
    QString inputBox(const QString& prompt, const QString& title,
                     const QString& defaultText) override;
    void showModal(QDialog* window) override;
    bool openUrl(const QString& target, int showMode) override;
    void endApp() override;

    QList<Shown> shown;
    struct Opened
    {
        QString target;
        int showMode = 0;
        qsizetype boxesBefore = 0; // boxes shown by the time it was opened
    };
    QList<Opened> opened;
    bool openSucceeds = true; // what openUrl() answers
    int endApps = 0;
    QList<bool> yesNoAnswers; // taken in order; No when empty
    QStringList inputAnswers; // taken in order; cancel (empty text) when empty
    // Runs while a modal window "is shown": fill it in and click, as a user would.
    std::function<void(QWidget*)> onModal;

    QStringList messages() const; // texts of the message boxes, in order
    const Shown* last(const QString& kind) const;
};

// The reference service on a free loopback port, with an empty temporary data folder. Points
// the agent at it through TALLYFRAME_SERVICE_URL for its life. On Linux it runs in this process.
// The Windows kit has no Qt HttpServer: there the test launcher (tests/windows/wine-test.sh)
// runs the Linux service beside the test, and each TestService empties its data and reaches its
// store through ODBC, and server() steers it over HTTP.
class TestService
{
public:
    TestService();
    ~TestService();
    TallyServer& server();
    TallyStore& store();
    QString baseUrl() const;
    QString dataDir() const;

private:
#ifdef Q_OS_WIN
    std::unique_ptr<TallyServer> m_server;
    std::unique_ptr<TallyStore> m_store;
    QString m_baseUrl;
#else
    QTemporaryDir m_dir;
    std::unique_ptr<TallyServer> m_server;
#endif
    QByteArray m_previousUrl;
};

// Points a client at another address for the guard's life: the service moved, or went down.
class ServiceSwap
{
public:
    ServiceSwap(ServiceClient& client, const QString& baseUrl);
    ~ServiceSwap();

private:
    ServiceClient& m_client;
    ServiceSettings m_previous;
};
// The same without an end: the client stays pointed at baseUrl.
void pointAt(ServiceClient& client, const QString& baseUrl);

// Makes the agent see this device name (through TALLYFRAME_DEVICE_NAME) for the guard's life.
class DeviceNameGuard
{
public:
    explicit DeviceNameGuard(const QString& deviceName);
    ~DeviceNameGuard();

private:
    QByteArray m_previous;
    bool m_wasSet;
};

// Creates an SQLite database file with the given statements run in order.
void createSqliteDatabase(const QString& path, const QStringList& statements);
// An ODBC connection string that opens the file through the SQLite 3 ODBC driver.
QString sqliteConnectionString(const QString& path);
// The file's path as the host's ODBC drivers see it: under Wine, whose ODBC hands every call to
// the Linux driver manager, the Unix path; elsewhere the path itself.
QString hostPath(const QString& path);

class ReportCourier;
// Starts a tick of the courier through `trigger` (the window's timer, say) and waits until it
// has ended and what it reported has reached the window. While a tick still runs the trigger
// is only fired, and nothing is waited for.
void runCourierTick(ReportCourier& courier, const std::function<void()>& trigger);
