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

// Compares the controller's firmware version with the package's: smaller
// gives an upgrade, equal a rewrite, greater a downgrade.
int compareVersion(const std::string& fwVersion, const std::string& packageVersion);
