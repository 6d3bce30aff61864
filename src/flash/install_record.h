// The lasting record of a firmware package on this machine, for deployment
// engines' registry detection rules (no script, no package content needed):
//   HKLM\SOFTWARE\TZR\NVMeBootController\Packages\<package name>
//     Version        REG_SZ     the package version the controllers carry
//     Result         REG_SZ     "written" (this package wrote it) or "in place"
//                               (an install-state query found it already there)
//     Time           REG_SZ     when the record was written, UTC, 2026-12-10T07:18:35Z
//     RestartNeeded  REG_DWORD  1 when the installation that wrote it asked for a restart
//     Controller N   REG_SZ     "model|firmware before|firmware now", one per controller
// It is written after a write that succeeded on every controller, and by an
// install-state query that finds every controller at the package's version
// while the record says otherwise (or is missing); a query that finds the
// controllers differing from the record and not at the package's version
// removes it. A failed write never writes it.
#pragma once

#include "controller_outcomes.h"

#include <string>

extern const wchar_t kInstallRecordRoot[];

// The record's key name for a package name: backslashes (which would make a
// subkey) become "_"; at most 255 characters. Empty for an empty name.
std::wstring installRecordKeyName(const std::wstring& packageName);

// After a write that succeeded on every controller.
void recordInstallation(const std::wstring& packageName, const std::string& version, bool restartNeeded,
                        const std::vector<ControllerOutcome>& controllers);
// After an install-state query: the controllers as found (before == after).
void refreshInstallRecord(const std::wstring& packageName, const std::string& version,
                          const std::vector<ControllerOutcome>& controllers);
