// The decisions of the self-update: when a published build counts as newer, which files take
// part in the three-run hand-over, and what each state of those files calls for.
#pragma once

#include "service/AgentError.h"

#include <QLoggingCategory>
#include <QString>

Q_DECLARE_LOGGING_CATEGORY(lcUpdate)

namespace UpdateText {
inline constexpr char Checking[] = "Checking Updates...";
inline constexpr char CheckFailed[] = "Checking Update gagal";
inline constexpr char Downloading[] = "Downloading Update File";
inline constexpr char Downloaded[] = "Unduh update 100%";
inline constexpr char DownloadFailed[] = "Gagal unduh update";
inline constexpr char UpToDate[] = "Versi sudah mutakhir";
} // namespace UpdateText

// The one base name that never takes part in updates.
inline constexpr char kNoUpdateBaseName[] = "Bundle1";
// What marks the downloaded build's base name.
inline constexpr char kDownloadedMark[] = "-NEW";
inline constexpr char kMarkerMark[] = "-TMP";
// The published build's name that the time endpoint is always asked about.
inline constexpr char kPublishedBaseName[] = "Q17-Tallyframe";
// A download this much shorter than the running build (or more) is taken for a broken one.
inline constexpr qint64 kMaxShortfallBytes = 1000;

// The product's base name: the running one without the marks of the hand-over ("-NEW",
// "-TMP"). Whichever file of the hand-over runs, it is the same product under this name.
QString ProductBaseName(const QString& baseName);

// A file of the hand-over that could not be read, copied or deleted.
class UpdateFileError : public AgentError
{
public:
    explicit UpdateFileError(QString description) : AgentError(0, std::move(description)) {}
};

// Whether a text can be read as a date, a time or both (surrounding blanks allowed), the way a
// user would write one: 2024-03-05 14:07:09, 2024-3-5, 2024/3/5 9:07, 14:07.
bool IsDateText(const QString& text);

// The modification time of a file as "yyyy-MM-dd HH:mm:ss" in local time, the layout the service
// uses for the published build; throws UpdateFileError when it cannot be read.
QString FileTimeText(const QString& path);

enum class UpdateDecision
{
    CheckFailed, // the server's answer is no date: nothing to compare
    Download,    // the published build is newer
    UpToDate,    // the same time or an earlier one
};

// Compares the two time texts as texts, code unit by code unit: for the common layout that is
// the chronological order, and any other layout is compared the same way.
UpdateDecision DecideUpdate(const QString& localTime, const QString& serverTime);

// The files of the hand-over in the folder F for the running base name N.
class UpdateFiles
{
public:
    // exeSuffix: what an executable's name ends in on this platform ("" or ".EXE").
    UpdateFiles(QString folder, QString baseName, QString exeSuffix);

    // True for the downloaded build running (its base name contains "-NEW").
    bool isDownloadedBuild() const;

    QString running() const;     // F/N
    QString downloaded() const;  // F/N-NEW
    QString marker() const;      // F/N-TMP
    QString usualBuild() const;  // F/B (for the downloaded build)
    QString usualMarker() const; // F/B-TMP (for the downloaded build)

    // Service paths: the time of the published build and the download of this build.
    QString timeQueryPath() const;
    QString downloadPath() const;
    // The signature file published beside the build.
    QString signaturePath() const;

private:
    QString path(const QString& base) const;
    // The usual base name: N with every "-NEW" removed.
    QString usualBaseName() const;

    QString m_folder;
    QString m_baseName;
    QString m_exeSuffix;
};

// What the usual-named build does with the files it finds after its check.
enum class SwapStep
{
    Nothing,           // neither file: nothing pending
    CleanUpAfterSwap,  // N-NEW and N-TMP: a swap completed, delete both
    StartDownloaded,   // N-NEW alone and plausible: hand over to it
    DiscardDownloaded, // N-NEW alone but no usable build: delete it, keep running
    RemoveStrayMarker, // N-TMP alone: delete it
};
SwapStep DecideSwap(bool downloadedExists, bool markerExists, bool downloadedPlausible);

// The start of an executable file of this platform ("MZ" on Windows, ELF elsewhere).
bool HasExecutableHeader(const QByteArray& start);
// Whether a file may be started as a new build of the reference (the running build): an
// executable file with the header of this platform, not kMaxShortfallBytes or more shorter
// than the reference.
bool IsPlausibleBuild(const QString& candidate, const QString& reference);
// An executable file with the header of this platform, whatever its size: enough for a build
// whose signature was checked when it was downloaded.
bool IsStartableBuild(const QString& candidate);
// The same test on a length and header already known.
bool IsPlausibleBuild(const QByteArray& header, qint64 length, qint64 referenceLength);

// The tick handler's counter: true on every sixth tick, when the check is due.
class UpdateTickCounter
{
public:
    bool tick();
    qint16 value() const { return m_count; }

private:
    qint16 m_count = 0;
};
