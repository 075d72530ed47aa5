// The update download: streamed into a temporary file in the target's folder and checked before
// it takes the target's name, so that a broken or foreign transfer can never be started as a
// build.
#include "UpdateDownload.h"

#include "UpdateCheck.h"
#include "UpdateSignature.h"
#include "service/Wait.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTemporaryFile>
#include <QUrl>

namespace {

// The same scheme, host and port as the service, a port left out counting as the scheme's own.
bool onService(const QString& address, const ServiceSettings& service)
{
    const QUrl url(address, QUrl::StrictMode);
    const QUrl base(service.baseUrl);
    const QString scheme = url.scheme().toLower();
    const int defaultPort = scheme == QLatin1String("https") ? 443 : 80;
    return url.isValid() && !url.host().isEmpty() && scheme == base.scheme().toLower() &&
           url.host().compare(base.host(), Qt::CaseInsensitive) == 0 &&
           url.port(defaultPort) == base.port(defaultPort);
}

struct Transfer
{
    QString failure; // why the answer is no whole 200 answer; empty when it is one
    int status = 0;
    QVariant announced; // Content-Length, when the answer had one
    bool tooLarge = false;
    bool writeFailed = false;
};

// One GET into sink, never more than maxBytes.
Transfer fetch(const QString& address, QIODevice* sink, qint64 maxBytes, int timeoutMs)
{
    QNetworkAccessManager manager;
    QNetworkRequest request{QUrl(address, QUrl::StrictMode)};
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::SameOriginRedirectPolicy);
    // The published bytes as they are: when Qt inflates a compressed answer it drops the
    // length, and the signature covers the file, not its compressed form.
    request.setRawHeader("Accept-Encoding", "identity");
    // Measured from the last byte that moved: a slow but flowing download is not cut off.
    request.setTransferTimeout(timeoutMs);

    Transfer t;
    QNetworkReply* reply = manager.get(request);
    qint64 written = 0;
    const auto drain = [&] {
        const QByteArray chunk = reply->readAll();
        if (t.writeFailed || t.tooLarge)
            return;
        written += chunk.size();
        if (written > maxBytes) {
            t.tooLarge = true;
            reply->abort();
        } else if (sink->write(chunk) != chunk.size()) {
            t.writeFailed = true;
            reply->abort();
        }
    };
    QObject::connect(reply, &QNetworkReply::readyRead, reply, drain);
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [&] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > maxBytes) {
            t.tooLarge = true;
            reply->abort();
        }
    });
    if (!reply->isFinished())
        WaitFor(reply, &QNetworkReply::finished);
    drain();

    t.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->error() != QNetworkReply::NoError)
        t.failure = reply->errorString();
    else if (t.status != 200)
        t.failure = QStringLiteral("status %1").arg(t.status);
    t.announced = reply->header(QNetworkRequest::ContentLengthHeader);
    delete reply;
    return t;
}

// The signature file, or the verdict that stops the download before the build is fetched.
DownloadVerdict fetchSignature(const BuildCheck& check, BuildSignature* signature, QString* refusal)
{
    if (!onService(check.signatureAddress, check.service)) {
        *refusal = QStringLiteral("signature not on the service: ") + check.signatureAddress;
        return DownloadVerdict::Failed;
    }
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    const Transfer t =
        fetch(check.signatureAddress, &buffer, kMaxSignatureBytes, check.service.timeoutMs);
    if (t.status == 404 || t.status == 410) {
        *refusal = QStringLiteral("the build is not signed");
        return DownloadVerdict::Refused;
    }
    if (t.tooLarge || (t.failure.isEmpty() && !ParseSignatureFile(buffer.data(), signature))) {
        *refusal = QStringLiteral("the signature file cannot be read");
        return DownloadVerdict::Refused;
    }
    if (!t.failure.isEmpty()) {
        *refusal = QStringLiteral("signature: ") + t.failure;
        return DownloadVerdict::Failed;
    }
    if (CompareVersions(signature->version, check.minimumVersion) < 0) {
        *refusal = QStringLiteral("signed version %1 is older than this build's %2")
                       .arg(signature->version, check.minimumVersion);
        return DownloadVerdict::Refused;
    }
    return DownloadVerdict::Accepted;
}

DownloadVerdict download(const QString& address, const QString& fileName, const BuildCheck& check,
                         QString* refusal)
{
    if (!onService(address, check.service)) {
        *refusal = QStringLiteral("not on the service");
        return DownloadVerdict::Failed;
    }
    // Without the running build there is nothing to measure the download against.
    const QFileInfo reference(check.referenceFile);
    if (!reference.isFile()) {
        *refusal = QStringLiteral("no reference build ") + check.referenceFile;
        return DownloadVerdict::Failed;
    }

    const bool signedOnly = !check.publicKey.isEmpty();
    BuildSignature signature;
    if (signedOnly) {
        const DownloadVerdict verdict = fetchSignature(check, &signature, refusal);
        if (verdict != DownloadVerdict::Accepted)
            return verdict;
    }

    QTemporaryFile part(QFileInfo(fileName).absoluteFilePath() + QStringLiteral(".XXXXXX.part"));
    if (!part.open()) {
        *refusal = QStringLiteral("cannot create ") + part.fileTemplate() + QStringLiteral(": ") +
                   part.errorString();
        return DownloadVerdict::Failed;
    }
    const Transfer t = fetch(address, &part, kMaxBuildBytes, check.service.timeoutMs);
    const qint64 received = part.size();
    if (t.tooLarge) {
        *refusal = QStringLiteral("larger than %1 bytes").arg(kMaxBuildBytes);
        return DownloadVerdict::Refused;
    }
    if (t.writeFailed || !part.flush()) {
        *refusal = QStringLiteral("cannot write: ") + part.errorString();
        return DownloadVerdict::Failed;
    }
    if (!t.failure.isEmpty()) {
        *refusal = t.failure;
        return DownloadVerdict::Failed;
    }

    part.seek(0);
    const QByteArray header = part.read(4);
    if (signedOnly) {
        // The signature vouches for every byte: length and size say nothing more.
        if (!VerifyBuild(part.fileName(), signature, check.publicKey)) {
            *refusal = QStringLiteral("the signature does not match");
            return DownloadVerdict::Refused;
        }
        if (!HasExecutableHeader(header)) {
            *refusal = QStringLiteral("signed, but no executable of this platform");
            return DownloadVerdict::Refused;
        }
    } else {
        if (t.announced.isValid() && t.announced.toLongLong() != received) {
            *refusal = QStringLiteral("%1 of %2 bytes").arg(received).arg(t.announced.toLongLong());
            return DownloadVerdict::Failed;
        }
        if (!IsPlausibleBuild(header, received, reference.size())) {
            *refusal = QStringLiteral("not a plausible build (%1 bytes)").arg(received);
            return DownloadVerdict::Refused;
        }
    }

    // Only now does the target name appear, already complete. The temporary file's own rename:
    // close() keeps its handle open, and Windows renames no file that is open.
    if (QFile::exists(fileName) && !QFile::remove(fileName)) {
        *refusal = QStringLiteral("cannot replace ") + QDir::toNativeSeparators(fileName);
        return DownloadVerdict::Failed;
    }
    if (!part.rename(fileName)) {
        *refusal =
            QStringLiteral("cannot rename the download to ") + QDir::toNativeSeparators(fileName);
        return DownloadVerdict::Failed;
    }
    part.setAutoRemove(false);
    QFile::setPermissions(fileName, reference.permissions());
    return DownloadVerdict::Accepted;
}

} // namespace

DownloadVerdict DownloadBuild(const QString& address, const QString& fileName,
                              const BuildCheck& check)
{
    QString refusal;
    const DownloadVerdict verdict = download(address, fileName, check, &refusal);
    if (verdict == DownloadVerdict::Accepted)
        qCInfo(lcUpdate).noquote() << "downloaded" << QFileInfo(fileName).size() << "bytes to"
                                   << QDir::toNativeSeparators(fileName)
                                   << (check.publicKey.isEmpty() ? "(unverified)" : "(signed)");
    else
        qCWarning(lcUpdate).noquote()
            << "download of" << address
            << (verdict == DownloadVerdict::Refused ? "refused:" : "failed:") << refusal;
    return verdict;
}

qint16 DownloadFile(const ServiceSettings& service, const QString& address, const QString& fileName,
                    const QString& referenceFile)
{
    const BuildCheck check{service, referenceFile};
    return DownloadBuild(address, fileName, check) == DownloadVerdict::Accepted ? 1 : 0;
}
