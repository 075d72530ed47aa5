// The update check and the three-run hand-over. The old process starts the next one and ends
// at once, so every file step here waits a little for a process that is still on its way out.
#include "SelfUpdate.h"

#include "service/Wait.h"

#include "UpdateCheck.h"
#include "UpdateDownload.h"
#include "UpdateSignature.h"
#include "service/ServiceClient.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTimer>
#include <QUrl>

#include <utility>

namespace {

constexpr int kRetryPauseMs = 250;

// Waits without freezing the window: it keeps painting, but takes no input.
void pause(int ms)
{
    QTimer timer;
    timer.start(ms);
    WaitFor(&timer, &QTimer::timeout);
}

bool tryReplace(const QString& source, const QString& destination, QString* error)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly)) {
        *error = QDir::toNativeSeparators(source) + QStringLiteral(": ") + in.errorString();
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

QString serviceAddress(const ServiceClient& service, const QString& path)
{
    QUrl url(service.settings().baseUrl);
    url.setPath(path);
    return url.toString(QUrl::FullyEncoded);
}

void checkAndDownload(ServiceClient& service, const UpdateSite& site, const UpdateFiles& files,
                      const UpdateHooks& hooks, QString* localTime, QString* serverTime)
{
    hooks.prompt(QLatin1String(UpdateText::Checking));
    UpdateDecision decision = UpdateDecision::CheckFailed;
    try {
        *localTime = FileTimeText(files.running());
        *serverTime = service.ServiceGet(service.url(files.timeQueryPath()));
        decision = DecideUpdate(*localTime, *serverTime);
    } catch (const TransportError& e) {
        qCWarning(lcUpdate).noquote() << "time request failed:" << e.number() << e.description();
    } catch (const UpdateFileError& e) {
        qCWarning(lcUpdate).noquote() << e.description();
    }

    // A published build met before is judged by that meeting, not by the clocks: a clock
    // behind the service's would otherwise fetch the same build at every check.
    if (decision != UpdateDecision::CheckFailed) {
        if (*serverTime == hooks.recall(QLatin1String(kInstalledTimeKey))) {
            decision = UpdateDecision::UpToDate;
        } else if (*serverTime == hooks.recall(QLatin1String(kRefusedTimeKey))) {
            qCInfo(lcUpdate).noquote()
                << "the build published at" << *serverTime << "was refused before";
            hooks.prompt(QLatin1String(UpdateText::DownloadFailed));
            return;
        }
    }

    if (decision != UpdateDecision::Download) {
        hooks.prompt(QLatin1String(decision == UpdateDecision::CheckFailed ? UpdateText::CheckFailed
                                                                           : UpdateText::UpToDate));
        return;
    }
    hooks.prompt(QLatin1String(UpdateText::Downloading));
    const BuildCheck check{service.settings(), files.running(), site.publicKey,
                           serviceAddress(service, files.signaturePath()), site.ownVersion};
    const DownloadVerdict verdict =
        DownloadBuild(serviceAddress(service, files.downloadPath()), files.downloaded(), check);
    if (verdict == DownloadVerdict::Accepted)
        hooks.remember(QLatin1String(kInstalledTimeKey), *serverTime);
    else if (verdict == DownloadVerdict::Refused)
        hooks.remember(QLatin1String(kRefusedTimeKey), *serverTime);
    hooks.prompt(QLatin1String(verdict == DownloadVerdict::Accepted ? UpdateText::Downloaded
                                                                    : UpdateText::DownloadFailed));
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

UpdateOutcome advanceHandOver(const UpdateSite& site, const UpdateFiles& files,
                              const UpdateHooks& hooks)
{
    const bool hasDownloaded = exists(files.downloaded());
    const bool hasMarker = exists(files.marker());
    // A signed build was checked whole when it came; its size says nothing about it.
    const bool plausible =
        hasDownloaded && !hasMarker &&
        (site.publicKey.isEmpty() ? IsPlausibleBuild(files.downloaded(), files.running())
                                  : IsStartableBuild(files.downloaded()));
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
        qCWarning(lcUpdate).noquote()
            << "discarding an unusable" << QDir::toNativeSeparators(files.downloaded());
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
            throw UpdateFileError(QStringLiteral("Gagal mengganti %1: %2")
                                      .arg(QDir::toNativeSeparators(destination), error));
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
            throw UpdateFileError(QStringLiteral("Gagal menghapus %1: %2")
                                      .arg(QDir::toNativeSeparators(path), file.errorString()));
        pause(kRetryPauseMs);
    }
}

UpdateOutcome RunUpdateCheck(ServiceClient& service, const UpdateSite& site,
                             const UpdateHooks& hooks)
{
    if (site.baseName == QLatin1String(kNoUpdateBaseName))
        return UpdateOutcome::Continued;

    if (site.publicKey.isEmpty()) {
        static bool told = false;
        if (!std::exchange(told, true))
            qCWarning(lcUpdate) << "no update key built in: updates are not verified";
    }
    const UpdateFiles files(site.folder, site.baseName, site.exeSuffix);
    QString localTime;
    QString serverTime;
    if (!files.isDownloadedBuild())
        checkAndDownload(service, site, files, hooks, &localTime, &serverTime);
    hooks.prompt(QStringLiteral("Sekarang: ") + localTime + QStringLiteral(" | Baru: ") +
                 serverTime);

    try {
        if (files.isDownloadedBuild())
            return completeSwap(files, hooks);
        return advanceHandOver(site, files, hooks);
    } catch (const UpdateFileError& e) {
        qCWarning(lcUpdate).noquote() << e.description();
        hooks.prompt(e.description());
    } catch (const std::exception& e) {
        qCWarning(lcUpdate) << "update step failed:" << e.what();
        hooks.prompt(QString::fromUtf8(e.what()));
    }
    return UpdateOutcome::Continued;
}

bool IsHandOverRun(const UpdateSite& site)
{
    if (site.baseName == QLatin1String(kNoUpdateBaseName))
        return false;
    if (site.baseName != ProductBaseName(site.baseName))
        return true;
    return exists(UpdateFiles(site.folder, site.baseName, site.exeSuffix).marker());
}

void RemoveUpdateLeftovers(const UpdateSite& site)
{
    if (site.baseName == QLatin1String(kNoUpdateBaseName))
        return;
    // The product's files with the hand-over's marks, then a temporary file's six random
    // letters or digits, and ".part" for a download.
    const QRegularExpression leftover(
        QStringLiteral("^%1(%2|%3)?%4\\.[A-Za-z0-9]{6}(\\.part)?$")
            .arg(QRegularExpression::escape(ProductBaseName(site.baseName)),
                 QRegularExpression::escape(QLatin1String(kDownloadedMark)),
                 QRegularExpression::escape(QLatin1String(kMarkerMark)),
                 QRegularExpression::escape(site.exeSuffix)));
    const QFileInfoList files =
        QDir(site.folder).entryInfoList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QFileInfo& file : files) {
        if (!leftover.match(file.fileName()).hasMatch())
            continue;
        if (QFile::remove(file.absoluteFilePath()))
            qCInfo(lcUpdate).noquote()
                << "removed the update leftover" << QDir::toNativeSeparators(file.filePath());
        else
            qCWarning(lcUpdate).noquote()
                << "cannot remove" << QDir::toNativeSeparators(file.filePath());
    }
}
