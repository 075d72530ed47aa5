// Device identity on Windows: the first record of the IP Helper adapter list.
#include "DeviceIdentity.h"

// Winsock before windows.h (which would pull in the old winsock), and both before the IP Helper.
#include <winsock2.h>

#include <windows.h>

#include <iphlpapi.h>

#include <vector>

QString ReadMacAddress(const QString& separator)
{
    ULONG size = 0;
    GetAdaptersInfo(nullptr, &size);
    if (size == 0)
        return {};
    std::vector<unsigned char> buffer(size);
    auto* info = reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data());
    if (GetAdaptersInfo(info, &size) != ERROR_SUCCESS)
        return {};
    const UINT length = info->AddressLength > MAX_ADAPTER_ADDRESS_LENGTH ? 0 : info->AddressLength;
    return FormatHardwareAddress(
        QByteArray(reinterpret_cast<const char*>(info->Address), int(length)), separator);
}
