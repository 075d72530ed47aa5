// The report loop without a window: poll the service, run the request on the local database,
// upload the report and flag the request, and tell an observer what to show. Lives on a thread
// of its own, so that no query or upload holds up the window.
#pragma once

#include "OdbcConnection.h"
#include "OwnerGuard.h"
#include "service/ServiceClient.h"

#include <QMutex>
#include <QObject>
#include <QString>
#include <QWaitCondition>

#include <atomic>
#include <functional>
#include <memory>

class QThread;

class ReportCourier : public QObject
{
    Q_OBJECT

public:
    // What the loop needs of the profile, copied on the window's thread at each tick: the
    // courier never reads the window's state. The owner's guard is read only when a request
    // runs, on the courier's thread, not on every tick; none given means no guard.
    struct Profile
    {
        ServiceSettings service; // the courier calls the same service as the window
        QString companyName;
        QString connectionString;
        std::function<OwnerGuard()> loadGuard;
    };

    // Ticks that a lost connection pauses the poll for, counting the failing one: the count runs
    // 1..29 and the tick that reaches 30 ends the pause.
    static constexpr qint16 kBackoffEnd = 30;

    explicit ReportCourier(QObject* parent = nullptr) : QObject(parent) {}
    ~ReportCourier() override;

    // Moves the courier onto a thread of its own, ended when the courier is destroyed. The
    // system's proxy for serviceUrl is looked up now, on the caller's thread.
    void startThread(const QString& serviceUrl);

    // Called on the observer's thread: false, and nothing happens, while a tick still runs;
    // otherwise the tick runs on the courier's thread and ends with tickDone().
    bool requestTick(const Profile& profile);
    // Runs one request text (a poll's reply) as a tick does.
    bool requestRun(const QString& reply, const Profile& profile);
    bool busy() const { return m_busy.load(); }

    // The pause counter of the poll: 0 while polling, 1..29 while pausing.
    qint16 backoffCount() const { return m_backoff.load(); }
    // Pauses the poll as a lost connection does, without the "connection lost" text.
    void startPollPause() { m_backoff = 1; }
    // True while the courier holds a database connection of its own.
    bool holdsConnection() const { return m_holdsConnection.load(); }

    // The observer's answer to requestText(), message() or question(): the waiting tick goes on.
    void answer(const QString& text = {});
    // Ends every wait for an answer at once and runs no further tick (shutdown).
    void stop();

signals:
    // The status line.
    void status(const QString& text);
    // The request text box. The tick waits for answer(): the box's reactions belong to it.
    void requestText(const QString& text);
    // A message box (style as in Dialogs); the tick waits for answer().
    void message(const QString& text, int style);
    // An input box; the tick waits for answer(text), the empty text when cancelled.
    void question(const QString& prompt);
    // A run opens its own connection now: the one the start-up opened is no longer needed.
    void runStarts();
    // The tick that requestTick() or requestRun() started has ended.
    void tickDone();

private:
    void tick(const Profile& profile);
    void run(const QString& reply, const Profile& profile);
    // The poll's reply, a failure text, or the empty text on a pausing tick.
    QString poll(const Profile& profile);
    void flag(ServiceClient& service, qint32 urut);
    bool post(const std::function<void()>& work);
    // Emits through `emitter` and waits until the observer answers or the courier stops.
    QString waitForAnswer(const std::function<void()>& emitter);
    void showText(const QString& text);
    // This thread's client of the service the profile names.
    ServiceClient& service(const ServiceSettings& settings);

    QThread* m_thread = nullptr;
    std::atomic<bool> m_busy{false};
    std::atomic<qint16> m_backoff{0};
    std::atomic<bool> m_holdsConnection{false};
    QString m_shownText; // what requestText() last sent, as the box holds it
    std::unique_ptr<OdbcConnection> m_connection;
    std::unique_ptr<ServiceClient> m_service;
    QNetworkProxy m_proxy{QNetworkProxy::NoProxy};

    QMutex m_answerLock;
    QWaitCondition m_answered;
    bool m_hasAnswer = false;
    bool m_stopped = false;
    QString m_answer;
};
