// Which driver a device runs now, as its own registry records it: the INF
// and install section of its driver key and the service its node names.
// newdev's answer alone does not say that a device was installed (Wine's
// answers success for an INF whose models it skipped, and on Windows a
// better-ranked driver from another INF may win), so the Plug and Play
// installation reads the binding back afterwards.
#pragma once

#include <string>
#include <vector>

struct DeviceBinding {
    std::wstring instanceId;  // ROOT\X\0000
    bool hasDriver = false;   // the node has a driver key
    std::wstring infPath;     // the driver key's InfPath: a name in the system's INF folder
    std::wstring infSection;  // its InfSection, with InfSectionExt appended when there is one
    std::wstring service;     // the node's service; empty without one
};

// Every device that reports the id among its hardware or compatible ids
// (whole ids, any case). Empty when none does or devices cannot be listed.
std::vector<DeviceBinding> DeviceBindingsOf(const std::wstring& hardwareId);

// What the binding names, for a reason line: "no driver", or
// "oem3.inf, section X, service Y".
std::wstring DescribeBinding(const DeviceBinding& binding);

// Whether two files hold the same bytes; false when either cannot be read.
bool SameFileBytes(const std::wstring& a, const std::wstring& b);
