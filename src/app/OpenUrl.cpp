#include "OpenUrl.h"

#include "AppControl.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>

namespace {
std::function<void(const QString&, int)> g_handler;
}

void setOpenUrlHandler(std::function<void(const QString&, int)> handler)
{
    g_handler = std::move(handler);
}

void OpenUrl(const QString& target, int showMode)
{
    qCInfo(lcApp).noquote() << "open:" << target;
    if (g_handler) {
        g_handler(target, showMode);
        return;
    }
    const QUrl url(target);
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("http") || scheme == QLatin1String("https")) {
        if (!QDesktopServices::openUrl(url))
            qCWarning(lcApp).noquote() << "no handler opened" << target;
        return;
    }
    const QFileInfo file(target);
    if (file.isFile() && file.isExecutable()) {
        if (!QProcess::startDetached(file.absoluteFilePath(), {}, file.absolutePath()))
            qCWarning(lcApp).noquote() << "could not start" << target;
        return;
    }
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(file.absoluteFilePath())))
        qCWarning(lcApp).noquote() << "no handler opened" << target;
}
