// The build's version and comments.
#include "ServiceConfig.h"

#include "BuildInfo.h"

#include <QStringList>

namespace ServiceConfig {

QString versionText()
{
    const QStringList parts = QStringLiteral(TALLYFRAME_VERSION).split(QLatin1Char('.'));
    return QStringLiteral("%1.%2.%3")
        .arg(parts.value(0).toInt())
        .arg(parts.value(1).toInt())
        .arg(parts.value(2).toInt());
}

QString buildComments()
{
    return QStringLiteral(TALLYFRAME_COMMENTS);
}

} // namespace ServiceConfig
