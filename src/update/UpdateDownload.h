// Fetching a published build into a file, so that only a complete, acceptable build ever lies
// under the target name.
#pragma once

#include "service/ServiceClient.h"

#include <QByteArray>
#include <QString>

// The largest build that is ever downloaded, and the largest signature file.
inline constexpr qint64 kMaxBuildBytes = qint64(256) << 20;
inline constexpr qint64 kMaxSignatureBytes = 4096;

enum class DownloadVerdict
{
    Accepted, // the build lies under the target name
    Failed,   // the transfer did not complete: worth another try at the next check
    Refused,  // the published build itself is not acceptable: not worth fetching again
};

// What a download is checked against.
struct BuildCheck
{
    ServiceSettings service; // the only origin fetched from, and how long a transfer may stall
    QString referenceFile;   // the running build: its permissions, and its size without a key
    // With a key, the build is accepted only when the signature file at signatureAddress
    // verifies for its bytes and names a version not lower than minimumVersion; no length or
    // size test is needed then. Without one, the build must be an executable of this platform,
    // as long as announced (when announced) and not much shorter than the reference.
    QByteArray publicKey = {};
    QString signatureAddress = {};
    QString minimumVersion = {};
};

// Downloads address into fileName. The transfer goes into a temporary file beside the target,
// which takes the target's name only when the build passed its checks; it then carries the
// reference's permissions. Anything else is deleted. Only addresses on the service's own
// scheme, host and port are fetched, redirects may not leave it, and the transfer is asked
// for without compression, so that what arrives is the published bytes.
DownloadVerdict DownloadBuild(const QString& address, const QString& fileName,
                              const BuildCheck& check);
// The same without a key. Returns 1 on success, 0 otherwise.
qint16 DownloadFile(const ServiceSettings& service, const QString& address, const QString& fileName,
                    const QString& referenceFile);
