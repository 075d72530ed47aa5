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
        const QString hw = iface.hardwareAddress();
        if (hw.isEmpty())
            continue;
        const QByteArray bytes = QByteArray::fromHex(hw.toLatin1().replace(':', ""));
        if (!bytes.isEmpty())
            return FormatHardwareAddress(bytes, separator);
    }
    return {};
}
