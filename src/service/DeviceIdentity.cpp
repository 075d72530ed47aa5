// Platform-neutral half of the device identity.
#include "DeviceIdentity.h"

QString FormatHardwareAddress(const QByteArray& bytes, const QString& separator)
{
    QString text;
    for (const char b : bytes) {
        if (!text.isEmpty())
            text += separator;
        text += QStringLiteral("%1")
                    .arg(static_cast<unsigned char>(b), 2, 16, QLatin1Char('0'))
                    .toUpper();
    }
    return text;
}

QString GetDeviceName()
{
    if (qEnvironmentVariableIsSet("TALLYFRAME_DEVICE_NAME"))
        return qEnvironmentVariable("TALLYFRAME_DEVICE_NAME");
    return ReadMacAddress(QStringLiteral(":"));
}
