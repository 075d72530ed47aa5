// The update check and the hand-over between the three runs of a self-update, independent of
// the window that shows its progress.
#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

class ServiceClient;

// How long a file of the hand-over is tried again while the process that is ending still holds
// it (a running executable cannot be replaced or deleted on every platform).
inline constexpr int kFileRetryMs = 10000;

// Copies source over destination, byte for byte, without ever writing into the destination in
// place: the copy goes to a temporary file beside it and is renamed over it, so a destination
// that is a running executable can be replaced too. The destination gets the source's
// permissions. Retries until retryMs has passed; throws UpdateFileError then.
void ReplaceFile(const QString& source, const QString& destination, int retryMs = kFileRetryMs);
// Deletes a file, trying again until retryMs has passed; throws UpdateFileError then.
// A file that does not exist counts as deleted.
void RemoveFile(const QString& path, int retryMs = kFileRetryMs);

struct UpdateSite
{
    QString folder;    // F: the running executable's folder
    QString baseName;  // N: its base name
    QString exeSuffix; // "" or ".EXE"
    // With a key, only builds signed for it, of this version or a later one, are taken.
    QByteArray publicKey = {};
    QString ownVersion = {};
};

struct UpdateHooks
{
    std::function<void(const QString&)> prompt; // the status line
    std::function<bool(const QString&)> start;  // starts an executable file; false if it did not
    std::function<void()> end;                  // ends this process
    int fileRetryMs = kFileRetryMs;
    // What the agent keeps between runs: the published time of the build last installed and
    // of the one last refused, so that neither is fetched again.
    std::function<QString(const QString& key)> recall;
    std::function<void(const QString& key, const QString& value)> remember;
};

// The keys under which those times are kept.
inline constexpr char kInstalledTimeKey[] = "UpdateInstalled";
inline constexpr char kRefusedTimeKey[] = "UpdateRefused";

enum class UpdateOutcome
{
    Continued, // this process runs on
    HandedOver // another build was started and this process was told to end
};

// The whole check: compares the running build with the published one, downloads a newer one,
// and moves the hand-over on by the files it finds. Never throws: a failed request says
// "Checking Update gagal", a file that cannot be handled puts its error on the status line.
UpdateOutcome RunUpdateCheck(ServiceClient& service, const UpdateSite& site,
                             const UpdateHooks& hooks);

// True for a run of the hand-over itself: a build running under the downloaded or the marker
// name, or the usual build started by a swap (its marker still lies beside it).
bool IsHandOverRun(const UpdateSite& site);

// Deletes what an interrupted update left beside the program: temporary files of our own
// naming around the product's files (an unfinished download "...-NEW.XXXXXX.part", an
// unfinished copy "...XXXXXX"). Only for a process that knows no other run is under way.
void RemoveUpdateLeftovers(const UpdateSite& site);
