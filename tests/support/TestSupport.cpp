#include "TestSupport.h"

#include "pipeline/ReportCourier.h"

#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>

#ifdef Q_OS_WIN
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QUrlQuery>

#include <windows.h>
#endif

namespace {

// Runs statements on an SQLite file, through the Qt driver where there is one.
void runOnSqliteFile(const QString& path, const QStringList& statements)
{
    const QString name = QStringLiteral("fixture-") + path;
    {
#ifdef Q_OS_WIN
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), name);
        db.setDatabaseName(sqliteConnectionString(path) + QStringLiteral("Timeout=5000;"));
#else
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
#endif
        if (!db.open())
            qFatal("cannot open %s: %s", qPrintable(path), qPrintable(db.lastError().text()));
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

#ifdef Q_OS_WIN
// Wine's own conversions between its drive letters and Unix paths; absent on real Windows.
template <typename Fn> Fn wineFunction(const char* name)
{
    const FARPROC proc = GetProcAddress(GetModuleHandleW(L"kernel32.dll"), name);
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(proc));
}

QString windowsPathOf(const QString& unixPath)
{
    using ToDos = WCHAR*(CDECL*)(LPCSTR);
    static const auto toDos = wineFunction<ToDos>("wine_get_dos_file_name");
    if (!toDos)
        return unixPath;
    WCHAR* dos = toDos(unixPath.toLocal8Bit().constData());
    if (!dos)
        return unixPath;
    const QString path = QDir::fromNativeSeparators(QString::fromWCharArray(dos));
    HeapFree(GetProcessHeap(), 0, dos);
    return path;
}
#endif

} // namespace

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

void ScriptedDialogs::showModal(QDialog* window)
{
    shown.append({QStringLiteral("modal"), window->windowTitle(), 0, {}, {}});
    if (onModal)
        onModal(window);
}

bool ScriptedDialogs::openUrl(const QString& target, int showMode)
{
    opened.append({target, showMode, shown.size()});
    return openSucceeds;
}

void ScriptedDialogs::endApp()
{
    ++endApps;
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

#ifdef Q_OS_WIN
namespace {
QByteArray serviceCall(const QString& url, const QByteArray* form)
{
    QNetworkAccessManager network;
    QNetworkRequest request{QUrl(url)};
    request.setHeader(QNetworkRequest::ContentTypeHeader, "application/x-www-form-urlencoded");
    QNetworkReply* reply = form ? network.post(request, *form) : network.get(request);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    const QByteArray body = reply->error() == QNetworkReply::NoError ? reply->readAll() : "";
    delete reply;
    return body;
}
} // namespace

bool TallyServer::setFaults(const FaultConfig& faults)
{
    QUrlQuery form;
    form.addQueryItem("rate", QString::number(faults.rate, 'g', 17));
    form.addQueryItem("kinds", QStringList(faults.kinds.cbegin(), faults.kinds.cend()).join(','));
    form.addQueryItem("seed", QString::number(faults.seed));
    form.addQueryItem("delay", QString::number(faults.delaySeconds));
    const QByteArray body = form.query(QUrl::FullyEncoded).toUtf8();
    return serviceCall(m_baseUrl + "/api/_faults", &body) == "ok";
}

QMap<QString, qint64> TallyServer::stats() const
{
    QMap<QString, qint64> values;
    for (const QByteArray& line : serviceCall(m_baseUrl + "/api/_stats", nullptr).split('\n')) {
        const qsizetype eq = line.indexOf('=');
        if (eq > 0)
            values.insert(QString::fromUtf8(line.left(eq)),
                          line.mid(eq + 1).trimmed().toLongLong());
    }
    return values;
}

TestService::TestService()
{
    m_baseUrl = qEnvironmentVariable("TALLYFRAME_TEST_SERVICE_URL");
    const QString unixData = qEnvironmentVariable("TALLYFRAME_TEST_SERVICE_DATA");
    if (m_baseUrl.isEmpty() || unixData.isEmpty())
        qFatal("no service: run the test through tests/windows/wine-test.sh, which starts one");
    const QString data = windowsPathOf(unixData);
    // Every TestService starts with an empty service, as the in-process one does.
    runOnSqliteFile(data + QStringLiteral("/service.db"),
                    {QStringLiteral("DELETE FROM reports"), QStringLiteral("DELETE FROM requests"),
                     QStringLiteral("DELETE FROM companies"),
                     QStringLiteral("DELETE FROM sqlite_sequence")});
    for (const QString& folder : {QStringLiteral("/app"), QStringLiteral("/reports")}) {
        QDir dir(data + folder);
        for (const QString& file : dir.entryList(QDir::Files | QDir::Hidden))
            dir.remove(file);
    }
    m_server = std::make_unique<TallyServer>(m_baseUrl);
    if (!m_server->setFaults({}))
        qFatal("the service at %s does not answer", qPrintable(m_baseUrl));
    m_store = std::make_unique<TallyStore>(data);
    if (!m_store->open())
        qFatal("cannot open the service's store in %s", qPrintable(data));
    m_previousUrl = qgetenv("TALLYFRAME_SERVICE_URL");
    qputenv("TALLYFRAME_SERVICE_URL", m_baseUrl.toUtf8());
}

TallyStore& TestService::store()
{
    return *m_store;
}
QString TestService::baseUrl() const
{
    return m_baseUrl;
}
QString TestService::dataDir() const
{
    return m_store->dataDir();
}
#else
TestService::TestService()
{
    m_server = std::make_unique<TallyServer>(m_dir.path());
    if (!m_server->listen(QHostAddress::LocalHost, 0))
        qFatal("the reference service could not listen on loopback");
    m_previousUrl = qgetenv("TALLYFRAME_SERVICE_URL");
    qputenv("TALLYFRAME_SERVICE_URL", m_server->baseUrl().toUtf8());
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
#endif

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
    runOnSqliteFile(path, statements);
}

QString hostPath(const QString& path)
{
#ifdef Q_OS_WIN
    using ToUnix = char*(CDECL*)(LPCWSTR);
    static const auto toUnix = wineFunction<ToUnix>("wine_get_unix_file_name");
    if (toUnix) {
        const QString native = QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
        if (char* unixPath = toUnix(reinterpret_cast<LPCWSTR>(native.utf16()))) {
            const QString converted = QString::fromLocal8Bit(unixPath);
            HeapFree(GetProcessHeap(), 0, unixPath);
            return converted;
        }
    }
#endif
    return path;
}

QString sqliteConnectionString(const QString& path)
{
    return QStringLiteral("DRIVER={SQLite3};Database=") + hostPath(path) + QStringLiteral(";");
}

void runCourierTick(ReportCourier& courier, const std::function<void()>& trigger)
{
    if (courier.busy()) {
        trigger();
        return;
    }
    bool done = false;
    QObject context;
    // Queued, so that it comes after the texts the tick sent before it ended.
    QObject::connect(
        &courier, &ReportCourier::tickDone, &context, [&done] { done = true; },
        Qt::QueuedConnection);
    trigger();
    if (!QTest::qWaitFor([&done] { return done; }, 120000))
        qFatal("the courier's tick did not end");
}

void pointAt(ServiceClient& client, const QString& baseUrl)
{
    ServiceSettings settings = client.settings();
    settings.baseUrl = baseUrl;
    client = ServiceClient(settings);
}

ServiceSwap::ServiceSwap(ServiceClient& client, const QString& baseUrl)
    : m_client(client), m_previous(client.settings())
{
    pointAt(client, baseUrl);
}

ServiceSwap::~ServiceSwap()
{
    m_client = ServiceClient(m_previous);
}
