#include "TestSupport.h"

#include "TallyServer.h"
#include "TallyStore.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>

ScriptedDialogs::ScriptedDialogs()
{
    Dialogs::install(this);
}
ScriptedDialogs::~ScriptedDialogs()
{
    Dialogs::install(nullptr);
}

void ScriptedDialogs::messageBox(const QString& text, int style, const QString& title)
{
    shown.append({QStringLiteral("message"), text, style, title, {}});
}

bool ScriptedDialogs::askYesNo(const QString& text, int style, const QString& title)
{
    shown.append({QStringLiteral("yesno"), text, style, title, {}});
    return yesNoAnswers.isEmpty() ? false : yesNoAnswers.takeFirst();
}

QString ScriptedDialogs::inputBox(const QString& prompt, const QString& title,
                                  const QString& defaultText)
{
    shown.append({QStringLiteral("input"), prompt, 0, title, defaultText});
    return inputAnswers.isEmpty() ? QString() : inputAnswers.takeFirst();
}

void ScriptedDialogs::showModal(QWidget* window)
{
    shown.append({QStringLiteral("modal"), window->windowTitle(), 0, {}, {}});
    if (onModal)
        onModal(window);
}

QStringList ScriptedDialogs::messages() const
{
    QStringList texts;
    for (const Shown& s : shown) {
        if (s.kind == QLatin1String("message"))
            texts << s.text;
    }
    return texts;
}

const ScriptedDialogs::Shown* ScriptedDialogs::last(const QString& kind) const
{
    for (auto it = shown.crbegin(); it != shown.crend(); ++it) {
        if (it->kind == kind)
            return &*it;
    }
    return nullptr;
}

TestService::TestService()
{
    m_server = std::make_unique<TallyServer>(m_dir.path());
    if (!m_server->listen(QHostAddress::LocalHost, 0))
        qFatal("the reference service could not listen on loopback");
    m_previousUrl = qgetenv("TALLYFRAME_SERVICE_URL");
    qputenv("TALLYFRAME_SERVICE_URL", m_server->baseUrl().toUtf8());
}

TestService::~TestService()
{
    if (m_previousUrl.isEmpty())
        qunsetenv("TALLYFRAME_SERVICE_URL");
    else
        qputenv("TALLYFRAME_SERVICE_URL", m_previousUrl);
}

TallyServer& TestService::server()
{
    return *m_server;
}
TallyStore& TestService::store()
{
    return m_server->store();
}
QString TestService::baseUrl() const
{
    return m_server->baseUrl();
}
QString TestService::dataDir() const
{
    return m_dir.path();
}

DeviceNameGuard::DeviceNameGuard(const QString& deviceName)
    : m_previous(qgetenv("TALLYFRAME_DEVICE_NAME")),
      m_wasSet(qEnvironmentVariableIsSet("TALLYFRAME_DEVICE_NAME"))
{
    qputenv("TALLYFRAME_DEVICE_NAME", deviceName.toUtf8());
}

DeviceNameGuard::~DeviceNameGuard()
{
    if (m_wasSet)
        qputenv("TALLYFRAME_DEVICE_NAME", m_previous);
    else
        qunsetenv("TALLYFRAME_DEVICE_NAME");
}

void createSqliteDatabase(const QString& path, const QStringList& statements)
{
    const QString name = QStringLiteral("fixture-") + path;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        if (!db.open())
            qFatal("cannot create %s", qPrintable(path));
        QSqlQuery query(db);
        for (const QString& statement : statements) {
            if (!query.exec(statement))
                qFatal("fixture statement failed: %s: %s", qPrintable(statement),
                       qPrintable(query.lastError().text()));
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
}

QString sqliteConnectionString(const QString& path)
{
    return QStringLiteral("DRIVER={SQLite3};Database=") + path + QStringLiteral(";");
}
