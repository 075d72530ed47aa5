// The machine's identity towards the service: its first network adapter's hardware address.
#pragma once

#include <QString>

// The first adapter's address bytes as upper-case hex pairs joined by the separator; empty
// when no adapter can be read. One implementation per platform.
QString ReadMacAddress(const QString& separator);

// ReadMacAddress(":"), read afresh on every call. TALLYFRAME_DEVICE_NAME replaces it: several
// agents on one machine (tests, the demo) can then stand for different devices.
QString GetDeviceName();

// Joins address bytes the way the device name is written.
QString FormatHardwareAddress(const QByteArray& bytes, const QString& separator);
