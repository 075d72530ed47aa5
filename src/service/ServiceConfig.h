// Which build this is.
#pragma once

#include <QString>

namespace ServiceConfig {

// "major.minor.revision" in plain decimal, e.g. 1.0.49.
QString versionText();
QString buildComments();

} // namespace ServiceConfig
