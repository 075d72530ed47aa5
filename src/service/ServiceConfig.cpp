// Build-time hosts with environment overrides.
#include "ServiceConfig.h"

#include "BuildInfo.h"

#include <QStringList>

namespace {

QString fromEnvOr(const char* name, const QString& fallback)
{
    QString value = qEnvironmentVariable(name).trimmed();
    while (value.endsWith(QLatin1Char('/')))
        value.chop(1);
    return value.isEmpty() ? fallback : value;
}

} // namespace

namespace ServiceConfig {

QString serviceBaseUrl()
{
    return fromEnvOr("TALLYFRAME_SERVICE_URL", QStringLiteral("https://" TALLYFRAME_SERVICE_HOST));
}

QString webBaseUrl()
{
    return fromEnvOr("TALLYFRAME_WEB_URL", QStringLiteral("https://" TALLYFRAME_WEB_HOST));
}

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
