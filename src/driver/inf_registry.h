// The registry an INF section's AddReg and DelReg lines are about to change,
// recorded in an install journal so that a failed installation puts it back.
// SetupAPI writes those lines and keeps no record of what a key held.
#pragma once

#include "install_journal.h"

#include <windows.h>
#include <setupapi.h>

// Records, for every line of the lists section names, the key it may create
// and the value it writes or deletes (each value of a key a DelReg line
// deletes whole); HKR lines are below root. 1, or 0 with the reason.
int RecordRegistryLines(HINF inf, const wchar_t* section, HKEY root, InstallJournal& journal);
