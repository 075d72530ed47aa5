// The "Instansi" settings store.
#include "SettingsStore.h"

#include <QSettings>

namespace SettingsStore {

std::unique_ptr<QSettings> open()
{
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                       QStringLiteral("Instansi"), QStringLiteral("Instansi"));
}

void clearAll()
{
    const auto store = open();
    for (const Key& key : kKeys) {
        const QString path = QString::fromLatin1(key.section) + u'/' + QLatin1String(key.name);
        store->setValue(path, QString());
        store->remove(path);
    }
    store->sync();
}

} // namespace SettingsStore
