// The update download: streamed into a temporary file in the target's folder and checked before
// it takes the target's name, so that a broken transfer can never be started as a build.
#include "UpdateDownload.h"

#include "UpdateCheck.h"
#include "service/HttpTransport.h"
#include "service/ServiceConfig.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTemporaryFile>
#include <QUrl>

namespace {

int defaultPort(const QString& scheme)
{
    return scheme == QLatin1String("https") ? 443 : 80;
}

bool sameOrigin(const QUrl& a, const QUrl& b)
{
    const QString scheme = a.scheme().toLower();
    return scheme == b.scheme().toLower() && a.host().compare(b.host(), Qt::CaseInsensitive) == 0 &&
           a.port(defaultPort(scheme)) == b.port(defaultPort(scheme));
}

} // namespace

qint16 DownloadFile(const QString& address, const QString& fileName, const QString& referenceFile)
{
    const QUrl url(address, QUrl::StrictMode);
    const QUrl service(ServiceConfig::serviceBaseUrl());
    if (!url.isValid() || url.host().isEmpty() || !sameOrigin(url, service)) {
        qCWarning(lcUpdate).noquote() << "download refused, not on the service:" << address;
        return 0;
    }

    // Without the running build there is nothing to measure the download against.
    const QFileInfo reference(referenceFile);
    if (!reference.isFile()) {
        qCWarning(lcUpdate).noquote() << "download refused, no reference build:" << referenceFile;
        return 0;
    }

    const QFileInfo target(fileName);
    QTemporaryFile part(target.absolutePath() + QLatin1Char('/') + target.fileName() +
                        QStringLiteral(".XXXXXX.part"));
    if (!part.open()) {
        qCWarning(lcUpdate).noquote()
            << "cannot create" << part.fileTemplate() << part.errorString();
        return 0;
    }

    QNetworkAccessManager manager;
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::SameOriginRedirectPolicy);
    // Measured from the last byte that moved: a slow but flowing download is not cut off.
    request.setTransferTimeout(HttpTransport::timeoutMs());

    QNetworkReply* reply = manager.get(request);
    bool writeFailed = false;
    const auto drain = [&] {
        const QByteArray chunk = reply->readAll();
        if (!writeFailed && part.write(chunk) != chunk.size()) {
            writeFailed = true;
            reply->abort();
        }
    };
    QObject::connect(reply, &QNetworkReply::readyRead, reply, drain);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    drain();

    const QNetworkReply::NetworkError error = reply->error();
    const QString errorText = reply->errorString();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QVariant announced = reply->header(QNetworkRequest::ContentLengthHeader);
    delete reply;

    const qint64 received = part.size();
    QString refusal;
    if (writeFailed)
        refusal = QStringLiteral("cannot write: ") + part.errorString();
    else if (error != QNetworkReply::NoError)
        refusal = errorText;
    else if (status != 200)
        refusal = QStringLiteral("status %1").arg(status);
    else if (!announced.isValid())
        refusal = QStringLiteral("no length announced");
    else if (announced.toLongLong() != received)
        refusal = QStringLiteral("%1 of %2 bytes").arg(received).arg(announced.toLongLong());
    if (refusal.isEmpty() && !part.flush())
        refusal = QStringLiteral("cannot write: ") + part.errorString();
    if (refusal.isEmpty()) {
        part.seek(0);
        const QByteArray header = part.read(4);
        if (!IsPlausibleBuild(header, received, reference.size()))
            refusal = QStringLiteral("not a plausible build (%1 bytes)").arg(received);
    }
    if (!refusal.isEmpty()) {
        qCWarning(lcUpdate).noquote() << "download of" << address << "refused:" << refusal;
        return 0; // the temporary file removes itself
    }

    // Only now does the target name appear, already complete.
    part.close();
    if (QFile::exists(fileName) && !QFile::remove(fileName)) {
        qCWarning(lcUpdate).noquote() << "cannot replace" << QDir::toNativeSeparators(fileName);
        return 0;
    }
    if (!QFile::rename(part.fileName(), fileName)) {
        qCWarning(lcUpdate).noquote()
            << "cannot rename the download to" << QDir::toNativeSeparators(fileName);
        return 0;
    }
    part.setAutoRemove(false);
    QFile::setPermissions(fileName, reference.permissions());
    qCInfo(lcUpdate).noquote() << "downloaded" << received << "bytes to"
                               << QDir::toNativeSeparators(fileName);
    return 1;
}
