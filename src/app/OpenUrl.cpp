#include "OpenUrl.h"

#include "AppControl.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>

bool OpenUrl(const QString& target, [[maybe_unused]] int showMode)
{
    qCInfo(lcApp).noquote() << "open:" << target;
    bool opened = false;
    const QUrl url(target);
    const QString scheme = url.scheme().toLower();
    const QFileInfo file(target);
    if (scheme == QLatin1String("http") || scheme == QLatin1String("https"))
        opened = QDesktopServices::openUrl(url);
    else if (file.isFile() && file.isExecutable())
        opened = QProcess::startDetached(file.absoluteFilePath(), {}, file.absolutePath());
    else
        opened = QDesktopServices::openUrl(QUrl::fromLocalFile(file.absoluteFilePath()));
    if (!opened)
        qCWarning(lcApp).noquote() << "could not open" << target;
    return opened;
}
