// Hands an address or a file to the operating system's default handler.
#pragma once

#include <QString>

// Web addresses open in the user's browser; a file path is started as a program (never through
// a shell). Failures are logged, not shown. showMode 1 means "show normally". True when the
// system took the target: a caller about to end the process must not end it otherwise.
bool OpenUrl(const QString& target, int showMode = 1);
