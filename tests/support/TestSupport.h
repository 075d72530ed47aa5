// Shared test helpers: scripted dialogs, an in-process reference service, SQLite fixtures.
#pragma once

#include "ui/Dialogs.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>

class TallyServer;
class TallyStore;

// Answers every box the agent shows and records what it showed. Installs itself for its life.
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

    ScriptedDialogs();
    ~ScriptedDialogs() override;

    void messageBox(const QString& text, int style, const QString& title) override;
    bool askYesNo(const QString& text, int style, const QString& title) override;
    QString inputBox(const QString& prompt, const QString& title,
                     const QString& defaultText) override;
    void showModal(QWidget* window) override;

    QList<Shown> shown;
    QList<bool> yesNoAnswers; // taken in order; No when empty
    QStringList inputAnswers; // taken in order; cancel (empty text) when empty
    // Runs while a modal window "is shown": fill it in and click, as a user would.
    std::function<void(QWidget*)> onModal;

    QStringList messages() const; // texts of the message boxes, in order
    const Shown* last(const QString& kind) const;
};

// The reference service in this process on a free loopback port, with a temporary data
// folder. Points the agent at it through TALLYFRAME_SERVICE_URL for its life.
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
    QTemporaryDir m_dir;
    std::unique_ptr<TallyServer> m_server;
    QByteArray m_previousUrl;
};

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
