// Fetching a published build into a file, so that only a complete, plausible build ever lies
// under the target name.
#pragma once

#include <QString>

// Downloads address into fileName. The transfer goes into a temporary file beside the target,
// which takes the target's name only when the answer was 200, as long as announced, an
// executable of this platform and not much shorter than referenceFile (the running build); it
// then carries referenceFile's permissions. Anything else is deleted. Only addresses on the
// service's own scheme, host and port are fetched, and redirects may not leave it.
// Returns 1 on success, 0 otherwise.
qint16 DownloadFile(const QString& address, const QString& fileName, const QString& referenceFile);
