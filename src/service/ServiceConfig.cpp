// The build's version and comments.
#include "ServiceConfig.h"

#include "BuildInfo.h"

#include <QStringList>

namespace ServiceConfig {

Version buildVersion()
{
    const QStringList parts = QStringLiteral(TALLYFRAME_VERSION).split(QLatin1Char('.'));
    Version v;
    v.major = parts.value(0).toInt();
    v.minor = parts.value(1).toInt();
    v.revision = parts.value(2).toInt();
    return v;
}

QString versionText()
{
    const Version v = buildVersion();
    return QStringLiteral("%1.%2.%3").arg(v.major).arg(v.minor).arg(v.revision);
}

QString buildComments()
{
    return QStringLiteral(TALLYFRAME_COMMENTS);
}

} // namespace ServiceConfig
