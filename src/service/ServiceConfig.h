// Which build this is.
#pragma once

#include <QString>

namespace ServiceConfig {

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
