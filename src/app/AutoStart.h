// The auto-start entry: how the agent comes up again at the next log-on. One implementation per
// platform (the Run value in the registry on Windows, an XDG autostart file elsewhere).
#pragma once

#include "AppControl.h"

#include <QString>

// The product has one entry, named after its executable whichever file of an update's hand-over
// is running (Q17-Tallyframe-NEW writes and finds the entry of Q17-Tallyframe), and it starts
// the product's executable. `exe` is the running executable unless a caller names another.

// Writes (enable) or removes the entry for the product's executable. A failure is not shown: its
// error number goes to errorNumber, which is left alone on success.
void SetAutoStart(bool enable, qint32& errorNumber, const ExeIdentity& exe = {});

// Whether the product's entry exists (at the first start there is none yet).
bool AutoStartEntryExists(const ExeIdentity& exe = {});

// The command line the entry starts: the product's executable, quoted as the platform's entry
// format wants it, then " --auto-start".
QString AutoStartCommand(const ExeIdentity& exe = {});

// Where the entry lives, for messages and tests: the registry value or the file.
QString AutoStartLocation(const ExeIdentity& exe = {});
