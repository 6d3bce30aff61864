// Whether the root-enumerated device node of a driver exists: the node of a
// legacy driver is Enum\Root\LEGACY_<NAME>\0000, that of a virtual driver
// Enum\Root\<NAME>\0000, the name upper-cased. 1 when the key opens for reading.
#pragma once

int LegacyDeviceKeyExists(const wchar_t* serviceName);
int RootDeviceKeyExists(const wchar_t* serviceName);
