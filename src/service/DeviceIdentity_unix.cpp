// Device identity where Qt lists the adapters: the first non-loopback interface that has a
// hardware address, in the order the system lists them.
#include "DeviceIdentity.h"

#include <QNetworkInterface>

QString ReadMacAddress(const QString& separator)
{
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& iface : interfaces) {
        if (iface.flags().testFlag(QNetworkInterface::IsLoopBack))
            continue;
        // The separators are no hex digits: fromHex skips them.
        const QByteArray bytes = QByteArray::fromHex(iface.hardwareAddress().toLatin1());
        if (!bytes.isEmpty())
            return FormatHardwareAddress(bytes, separator);
    }
    return {};
}
