// Platform-neutral half of the device identity.
#include "DeviceIdentity.h"

QString FormatHardwareAddress(const QByteArray& bytes, const QString& separator)
{
    return QString::fromLatin1(bytes.toHex(':')).toUpper().replace(QLatin1Char(':'), separator);
}

QString GetDeviceName()
{
    if (qEnvironmentVariableIsSet("TALLYFRAME_DEVICE_NAME"))
        return qEnvironmentVariable("TALLYFRAME_DEVICE_NAME");
    return ReadMacAddress(QStringLiteral(":"));
}
