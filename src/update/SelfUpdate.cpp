// The update check and the three-run hand-over. The old process starts the next one and ends
// at once, so every file step here waits a little for a process that is still on its way out.
#include "SelfUpdate.h"

#include "UpdateCheck.h"
#include "UpdateDownload.h"
#include "service/HttpTransport.h"
#include "service/ServiceClient.h"
#include "service/ServiceConfig.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTimer>
#include <QUrl>

namespace {

constexpr int kRetryPauseMs = 250;

// Waits without freezing the window: it keeps painting, but takes no input.
void pause(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

QString native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

bool tryReplace(const QString& source, const QString& destination, QString* error)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly)) {
        *error = native(source) + QStringLiteral(": ") + in.errorString();
        return false;
    }
    QSaveFile out(destination);
    if (!out.open(QIODevice::WriteOnly)) {
        *error = out.errorString();
        return false;
    }
    while (!in.atEnd()) {
        const QByteArray chunk = in.read(1 << 16);
        if (chunk.isEmpty() || out.write(chunk) != chunk.size()) {
            *error = chunk.isEmpty() ? in.errorString() : out.errorString();
            return false; // the unfinished copy goes with the QSaveFile
        }
    }
    if (!out.commit()) {
        *error = out.errorString();
        return false;
    }
    // The copy is started as a program next: it must stay executable.
    if (!QFile::setPermissions(destination, in.permissions())) {
        *error = QStringLiteral("cannot set permissions");
        return false;
    }
    return true;
}

bool exists(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

QString downloadAddress(const UpdateFiles& files)
{
    QUrl url(ServiceConfig::serviceBaseUrl());
    url.setPath(files.downloadPath());
    return url.toString(QUrl::FullyEncoded);
}

void checkAndDownload(const UpdateFiles& files, const UpdateHooks& hooks, QString* localTime,
                      QString* serverTime)
{
    hooks.prompt(QLatin1String(UpdateText::Checking));
    UpdateDecision decision = UpdateDecision::CheckFailed;
    try {
        *localTime = FileTimeText(files.running());
        *serverTime = ServiceGet(serviceUrl(files.timeQueryPath()));
        decision = DecideUpdate(*localTime, *serverTime);
    } catch (const TransportError& e) {
        qCWarning(lcUpdate).noquote() << "time request failed:" << e.number() << e.description();
    } catch (const UpdateFileError& e) {
        qCWarning(lcUpdate).noquote() << e.description();
    }

    switch (decision) {
    case UpdateDecision::CheckFailed:
        hooks.prompt(QLatin1String(UpdateText::CheckFailed));
        break;
    case UpdateDecision::UpToDate:
        hooks.prompt(QLatin1String(UpdateText::UpToDate));
        break;
    case UpdateDecision::Download: {
        hooks.prompt(QLatin1String(UpdateText::Downloading));
        const qint16 ok = DownloadFile(downloadAddress(files), files.downloaded(), files.running());
        hooks.prompt(QLatin1String(ok == 1 ? UpdateText::Downloaded : UpdateText::DownloadFailed));
        break;
    }
    }
}

// The downloaded build puts itself in place of the usual one and leaves the marker behind.
UpdateOutcome completeSwap(const UpdateFiles& files, const UpdateHooks& hooks)
{
    ReplaceFile(files.running(), files.usualBuild(), hooks.fileRetryMs);
    ReplaceFile(files.running(), files.usualMarker(), hooks.fileRetryMs);
    // Ending without a successor would leave no agent running at all.
    if (!hooks.start(files.usualBuild()))
        return UpdateOutcome::Continued;
    hooks.end();
    return UpdateOutcome::HandedOver;
}

UpdateOutcome advanceHandOver(const UpdateFiles& files, const UpdateHooks& hooks)
{
    const bool hasDownloaded = exists(files.downloaded());
    const bool hasMarker = exists(files.marker());
    const bool plausible =
        hasDownloaded && !hasMarker && IsPlausibleBuild(files.downloaded(), files.running());
    switch (DecideSwap(hasDownloaded, hasMarker, plausible)) {
    case SwapStep::Nothing:
        break;
    case SwapStep::CleanUpAfterSwap:
        RemoveFile(files.downloaded(), hooks.fileRetryMs);
        RemoveFile(files.marker(), hooks.fileRetryMs);
        qCInfo(lcUpdate) << "update completed";
        break;
    case SwapStep::StartDownloaded:
        if (!hooks.start(files.downloaded()))
            break; // keep running; the next check tries again
        hooks.end();
        return UpdateOutcome::HandedOver;
    case SwapStep::DiscardDownloaded:
        // Starting it could only fail; starting ourselves again would loop. Drop it instead.
        qCWarning(lcUpdate).noquote() << "discarding an unusable" << native(files.downloaded());
        RemoveFile(files.downloaded(), hooks.fileRetryMs);
        hooks.prompt(QLatin1String(UpdateText::DownloadFailed));
        break;
    case SwapStep::RemoveStrayMarker:
        RemoveFile(files.marker(), hooks.fileRetryMs);
        break;
    }
    return UpdateOutcome::Continued;
}

} // namespace

void ReplaceFile(const QString& source, const QString& destination, int retryMs)
{
    const QDeadlineTimer deadline(retryMs);
    QString error;
    while (!tryReplace(source, destination, &error)) {
        if (deadline.hasExpired())
            throw UpdateFileError(
                QStringLiteral("Gagal mengganti %1: %2").arg(native(destination), error));
        pause(kRetryPauseMs);
    }
}

void RemoveFile(const QString& path, int retryMs)
{
    const QDeadlineTimer deadline(retryMs);
    for (;;) {
        if (!exists(path))
            return;
        QFile file(path);
        if (file.remove())
            return;
        if (deadline.hasExpired())
            throw UpdateFileError(
                QStringLiteral("Gagal menghapus %1: %2").arg(native(path), file.errorString()));
        pause(kRetryPauseMs);
    }
}

UpdateOutcome RunUpdateCheck(const UpdateSite& site, const UpdateHooks& hooks)
{
    if (site.baseName == QLatin1String(kNoUpdateBaseName))
        return UpdateOutcome::Continued;

    const UpdateFiles files(site.folder, site.baseName, site.exeSuffix);
    QString localTime;
    QString serverTime;
    if (!files.isDownloadedBuild())
        checkAndDownload(files, hooks, &localTime, &serverTime);
    hooks.prompt(QStringLiteral("Sekarang: ") + localTime + QStringLiteral(" | Baru: ") +
                 serverTime);

    try {
        if (files.isDownloadedBuild())
            return completeSwap(files, hooks);
        return advanceHandOver(files, hooks);
    } catch (const UpdateFileError& e) {
        qCWarning(lcUpdate).noquote() << e.description();
        hooks.prompt(e.description());
    } catch (const std::exception& e) {
        qCWarning(lcUpdate) << "update step failed:" << e.what();
        hooks.prompt(QString::fromUtf8(e.what()));
    }
    return UpdateOutcome::Continued;
}
