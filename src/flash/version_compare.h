// What flashing the package's firmware would do to one controller, decided
// from the two version texts alone. Pure: no Windows, no logging.
#pragma once

#include <string>

// Update state of a controller (DeviceObj::getUpdateState).
enum UpdateState : int {
    kUpdateDowngrade = 0,
    kUpdateRewrite = 1,
    kUpdateUpgrade = 2,
    kUpdateUndetermined = 3,
};

// Natural order of two version texts: runs of decimal digits compare by
// value (leading zeros ignored), other bytes as unsigned bytes, and a text
// that is a prefix of the other is the smaller. -1, 0 or 1.
int compareVersionText(const std::string& a, const std::string& b);

// Compares the controller's firmware version with the package's in natural
// order: smaller gives an upgrade, equal a rewrite, greater a downgrade.
int compareVersion(const std::string& fwVersion, const std::string& packageVersion);
