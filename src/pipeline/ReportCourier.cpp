// The report loop: poll, ask, run, upload, flag.
#include "ReportCourier.h"

#include "ReportRequest.h"
#include "ReportRun.h"
#include "ReportService.h"

#include <QMutexLocker>
#include <QNetworkProxyFactory>
#include <QThread>

ReportCourier::~ReportCourier()
{
    stop();
    if (m_thread) {
        // The client's network manager goes while the thread's events still run, so that what it
        // leaves to be deleted later goes too.
        QMetaObject::invokeMethod(
            this, [this] { m_service.reset(); }, Qt::BlockingQueuedConnection);
        m_thread->quit();
        // A query that runs now ends first: its connection belongs to that thread.
        m_thread->wait();
        delete m_thread;
    }
}

void ReportCourier::startThread(const QString& serviceUrl)
{
    Q_ASSERT(!parent() && !m_thread);
    m_thread = new QThread;
    m_thread->setObjectName(QStringLiteral("report courier"));
    moveToThread(m_thread);
    m_thread->start();
    // The system's proxy for the service is looked up here, on the window's thread: looked up
    // on the courier's thread, Windows' proxy settings held up the process's exit after that
    // thread had ended.
    m_proxy = QNetworkProxyFactory::systemProxyForQuery(QNetworkProxyQuery(QUrl(serviceUrl)))
                  .value(0, QNetworkProxy(QNetworkProxy::NoProxy));
}

ServiceClient& ReportCourier::service(const ServiceSettings& settings)
{
    if (!m_service || m_service->settings() != settings) {
        m_service = std::make_unique<ServiceClient>(settings);
        m_service->setProxy(m_proxy);
    }
    return *m_service;
}

bool ReportCourier::post(const std::function<void()>& work)
{
    if (m_busy.exchange(true))
        return false;
    {
        const QMutexLocker lock(&m_answerLock);
        if (m_stopped) {
            m_busy = false;
            return false;
        }
    }
    QMetaObject::invokeMethod(this, [this, work] {
        work();
        m_busy = false;
        emit tickDone();
    });
    return true;
}

bool ReportCourier::requestTick(const Profile& profile)
{
    return post([this, profile] { tick(profile); });
}

bool ReportCourier::requestRun(const QString& reply, const Profile& profile)
{
    return post([this, reply, profile] { run(reply, profile); });
}

void ReportCourier::answer(const QString& text)
{
    const QMutexLocker lock(&m_answerLock);
    m_answer = text;
    m_hasAnswer = true;
    m_answered.wakeAll();
}

void ReportCourier::stop()
{
    const QMutexLocker lock(&m_answerLock);
    m_stopped = true;
    m_answered.wakeAll();
}

QString ReportCourier::waitForAnswer(const std::function<void()>& emitter)
{
    {
        const QMutexLocker lock(&m_answerLock);
        if (m_stopped)
            return {};
        m_hasAnswer = false;
    }
    // Emitted unlocked: an observer on this thread answers inside the emit.
    emitter();
    QMutexLocker lock(&m_answerLock);
    while (!m_hasAnswer && !m_stopped)
        m_answered.wait(&m_answerLock);
    m_hasAnswer = false;
    return std::exchange(m_answer, QString());
}

void ReportCourier::showText(const QString& text)
{
    m_shownText = text;
    waitForAnswer([&] { emit requestText(text); });
}

QString ReportCourier::poll(const Profile& profile)
{
    if (m_backoff > 0) {
        emit status(QStringLiteral("Coffee time for a next good internet connection in ") +
                    QString::number(kBackoffEnd - m_backoff) + QStringLiteral(". Cheers!"));
        if (++m_backoff >= kBackoffEnd) {
            m_backoff = 0;
            emit status(QStringLiteral("We're back!"));
        }
        return {};
    }
    try {
        return PollReportRequest(service(profile.service), profile.companyName);
    } catch (const TransportError& e) {
        if (e.description().contains(QLatin1String("system"), Qt::CaseSensitive)) {
            emit status(QStringLiteral("Sepertinya hubungan ke internet terputus?"));
            m_backoff = 1;
        }
        return e.textBoxText();
    }
}

void ReportCourier::tick(const Profile& profile)
{
    const QString reply = poll(profile);
    if (reply.isEmpty())
        return;
    showText(reply);
    run(reply, profile);
}

void ReportCourier::run(const QString& reply, const Profile& profile)
{
    const ParsedRequest parsed = ParseReportRequest(reply);
    if (parsed.status == ParsedRequest::NotARequest)
        return;
    if (parsed.status == ParsedRequest::Malformed) {
        // Often a reply cut short on the way: the request stays pending and comes again whole,
        // at the pace of a lost connection rather than twice a second.
        emit status(QStringLiteral("Permintaan laporan tidak dijalankan: ") + parsed.problem +
                    QLatin1Char('.'));
        startPollPause();
        return;
    }
    ReportRequest request = parsed.request;
    const auto ask = [this](const QString& prompt) {
        return waitForAnswer([&] { emit question(prompt); });
    };
    if (request.Sql.isEmpty())
        request.Sql = ask(QStringLiteral("Buat SQL String!"));
    if (request.Sql.isEmpty())
        return;
    if (request.FileName.isEmpty())
        request.FileName = ask(QStringLiteral("Tentukan nama file"));

    ReportRunHost host;
    host.prompting = [this](const QString& text) { emit status(text); };
    host.setTxtRs = [this](const QString& text) { showText(text); };
    host.messageBox = [this](const QString& text, int style) {
        waitForAnswer([&] { emit message(text, style); });
    };
    if (profile.loadGuard)
        host.guard = profile.loadGuard();
    host.service = &service(profile.service);
    emit runStarts();
    const ReportRun run = RunReportQuery(request.Sql, request.FileName, request.Title,
                                         profile.connectionString, m_connection, host);
    m_holdsConnection = m_connection != nullptr;
    showText(run.text);
    if (!run.flagRequest()) {
        // The service has not got the report: leave it pending there and ask again after a
        // pause, not on every tick.
        startPollPause();
        return;
    }
    flag(*host.service, request.Urut);
}

void ReportCourier::flag(ServiceClient& service, qint32 urut)
{
    QString flagResult;
    bool flagged = false;
    try {
        flagResult = UpdateFlag(service, urut, QStringLiteral("0"));
        flagged = flagResult.startsWith(QLatin1String("Response: "));
    } catch (const TransportError& e) {
        flagResult = e.textBoxText();
    }
    showText(m_shownText + QStringLiteral("\r\n") + flagResult);
    // An unflagged request comes back at the next poll and would be run and uploaded again
    // twice a second for as long as the flag fails: wait as after an undelivered report.
    if (!flagged)
        startPollPause();
}
