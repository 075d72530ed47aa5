// The decisions of the self-update, kept free of windows and of the network.
#include "UpdateCheck.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

Q_LOGGING_CATEGORY(lcUpdate, "tallyframe.update")

namespace {

// Whether text reads as a T (QDateTime, QDate or QTime) in one of the layouts.
template <typename T> bool readsAs(const QString& text, std::initializer_list<const char*> layouts)
{
    return std::any_of(layouts.begin(), layouts.end(), [&text](const char* layout) {
        return T::fromString(text, QLatin1String(layout)).isValid();
    });
}

} // namespace

bool IsDateText(const QString& text)
{
    const QString trimmed = text.trimmed();
    // Single-letter fields take one or two digits, so both 2024-03-05 and 2024-3-5 are read.
    return !trimmed.isEmpty() &&
           (readsAs<QDateTime>(trimmed, {"yyyy-M-d H:m:s", "yyyy-M-d H:m", "yyyy/M/d H:m:s",
                                         "yyyy/M/d H:m", "d-M-yyyy H:m:s", "d/M/yyyy H:m:s"}) ||
            readsAs<QDate>(trimmed, {"yyyy-M-d", "yyyy/M/d", "d-M-yyyy", "d/M/yyyy"}) ||
            readsAs<QTime>(trimmed, {"H:m:s", "H:m"}));
}

QString FileTimeText(const QString& path)
{
    const QFileInfo info(path);
    const QDateTime modified = info.lastModified();
    if (!info.exists() || !modified.isValid())
        throw UpdateFileError(QStringLiteral("File update tidak terbaca: ") +
                              QDir::toNativeSeparators(path));
    return modified.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

UpdateDecision DecideUpdate(const QString& localTime, const QString& serverTime)
{
    if (!IsDateText(serverTime))
        return UpdateDecision::CheckFailed;
    return localTime < serverTime ? UpdateDecision::Download : UpdateDecision::UpToDate;
}

QString ProductBaseName(const QString& baseName)
{
    QString base = baseName;
    return base.remove(QLatin1String(kDownloadedMark), Qt::CaseSensitive)
        .remove(QLatin1String(kMarkerMark), Qt::CaseSensitive);
}

UpdateFiles::UpdateFiles(QString folder, QString baseName, QString exeSuffix)
    : m_folder(std::move(folder)), m_baseName(std::move(baseName)),
      m_exeSuffix(std::move(exeSuffix))
{}

bool UpdateFiles::isDownloadedBuild() const
{
    return m_baseName.contains(QLatin1String(kDownloadedMark), Qt::CaseSensitive);
}

QString UpdateFiles::usualBaseName() const
{
    return QString(m_baseName).remove(QLatin1String(kDownloadedMark), Qt::CaseSensitive);
}

QString UpdateFiles::path(const QString& base) const
{
    return m_folder + QDir::separator() + base + m_exeSuffix;
}

QString UpdateFiles::running() const
{
    return path(m_baseName);
}

QString UpdateFiles::downloaded() const
{
    return path(m_baseName + QLatin1String(kDownloadedMark));
}

QString UpdateFiles::marker() const
{
    return path(m_baseName + QLatin1String(kMarkerMark));
}

QString UpdateFiles::usualBuild() const
{
    return path(usualBaseName());
}

QString UpdateFiles::usualMarker() const
{
    return path(usualBaseName() + QLatin1String(kMarkerMark));
}

QString UpdateFiles::timeQueryPath() const
{
    // Always the published build's name, whatever this executable is called.
    return QStringLiteral("/api/app/get_file_time.php?file=") + QLatin1String(kPublishedBaseName) +
           m_exeSuffix.toLower();
}

QString UpdateFiles::downloadPath() const
{
    return QStringLiteral("/api/app/") + m_baseName + m_exeSuffix.toLower();
}

QString UpdateFiles::signaturePath() const
{
    return downloadPath() + QStringLiteral(".sig");
}

SwapStep DecideSwap(bool downloadedExists, bool markerExists, bool downloadedPlausible)
{
    if (downloadedExists && markerExists)
        return SwapStep::CleanUpAfterSwap;
    if (downloadedExists)
        return downloadedPlausible ? SwapStep::StartDownloaded : SwapStep::DiscardDownloaded;
    if (markerExists)
        return SwapStep::RemoveStrayMarker;
    return SwapStep::Nothing;
}

bool HasExecutableHeader(const QByteArray& start)
{
#ifdef Q_OS_WIN
    return start.startsWith("MZ");
#else
    return start.startsWith("\x7f"
                            "ELF");
#endif
}

bool IsPlausibleBuild(const QByteArray& header, qint64 length, qint64 referenceLength)
{
    return HasExecutableHeader(header) && length - referenceLength > -kMaxShortfallBytes;
}

bool IsStartableBuild(const QString& candidate)
{
    QFile file(candidate);
    return file.open(QIODevice::ReadOnly) && QFileInfo(candidate).isExecutable() &&
           HasExecutableHeader(file.read(4));
}

bool IsPlausibleBuild(const QString& candidate, const QString& reference)
{
    QFile file(candidate);
    const QFileInfo referenceInfo(reference);
    return file.open(QIODevice::ReadOnly) && referenceInfo.exists() &&
           QFileInfo(candidate).isExecutable() &&
           IsPlausibleBuild(file.read(4), file.size(), referenceInfo.size());
}

bool UpdateTickCounter::tick()
{
    m_count = qint16((m_count + 1) % 6);
    return m_count == 0;
}
