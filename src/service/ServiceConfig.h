// Where the agent finds the reporting service and the product web site, and which build it is.
#pragma once

#include <QString>

namespace ServiceConfig {

// "https://" + the build's service host, or TALLYFRAME_SERVICE_URL (scheme, host, optional
// port, no trailing slash) when set: tests, the demo and self-hosting point the agent elsewhere.
QString serviceBaseUrl();
// "https://" + the build's product web host, or TALLYFRAME_WEB_URL.
QString webBaseUrl();

struct Version
{
    int major = 0;
    int minor = 0;
    int revision = 0;
};
Version buildVersion();
// "major.minor.revision" in plain decimal, e.g. 1.0.49.
QString versionText();
QString buildComments();

} // namespace ServiceConfig
