// The per-user settings store under the name "Instansi". The agent keeps only the owner's guard
// there (its profile comes from the service at every start); the uninstall clears that and what
// an earlier installation may have left.
#pragma once

#include <QString>

#include <memory>

class QSettings;

namespace SettingsStore {

struct Key
{
    const char* section;
    const char* name;
};

// The keys, in the order the uninstall clears them: the four an earlier installation may have
// left, then the owner's guard (the read-only switch and its limits), then the published times
// of the update last installed and last refused.
inline constexpr Key kKeys[] = {
    {"Sekuritas", "APIKey"},     {"Identitas", "Nama"},           {"Identitas", "Telp"},
    {"Aplikasi", "Hide"},        {"Sekuritas", "HanyaBaca"},      {"Sekuritas", "BatasWaktu"},
    {"Sekuritas", "BatasBaris"}, {"Aplikasi", "UpdateInstalled"}, {"Aplikasi", "UpdateRefused"},
};

// The store itself: organisation and application both "Instansi", in the platform's native
// format (the user's registry hive on Windows, ~/.config/Instansi/Instansi.conf elsewhere).
std::unique_ptr<QSettings> open();

// Writes an empty text under each key and then deletes it, so that every delete finds its key
// also on a machine where it never existed.
void clearAll();

} // namespace SettingsStore
