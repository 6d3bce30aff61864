// What one legacy or virtual installation changed on the machine, step by
// step, so that a failed one can be taken back: files it created, files it
// replaced, deleted or renamed (each old file kept beside it until the
// installation is done), moves it scheduled for the next restart and
// services it created. Registry values written through SetupAPI cannot be
// taken back (SetupAPI keeps no record of what a key held); they are only
// named. Nothing that existed before the run is removed by an undo.
#pragma once

#include "CStr.h"

#include <string>
#include <vector>

class InstallJournal {
public:
    InstallJournal() = default;
    // Keeps what was done: an installation that neither committed nor undid
    // is taken as done, so its kept old files go.
    ~InstallJournal();
    InstallJournal(const InstallJournal&) = delete;
    InstallJournal& operator=(const InstallJournal&) = delete;

    void FileCreated(const CStr& path);
    // The old bytes of target wait in keptOld until Commit or Undo.
    void FileReplaced(const CStr& target, const CStr& keptOld);
    void FileDeleted(const CStr& path, const CStr& keptOld);
    void FileRenamed(const CStr& from, const CStr& to);
    // A move or deletion of source registered for the next restart; a
    // temporary copy that only that move would have used goes with it.
    void ScheduledAtRestart(const CStr& source, bool temporary);
    void ServiceCreated(const CStr& name);
    void RegistryWritten(const CStr& section);

    // Takes every step back, the last first, and leaves one line per step
    // (what was undone, or why it could not be) in lines.
    void Undo(std::vector<std::wstring>& lines);
    // Keeps every step: the old files kept for an undo go.
    void Commit();

private:
    enum Kind { kCreated, kReplaced, kDeleted, kRenamed, kScheduled, kService, kRegistry };
    struct Step {
        Kind kind;
        CStr path;   // the file, service or section
        CStr other;  // the kept old file, a rename's new name, or "temporary" for a scheduled copy
    };
    std::vector<Step> m_vSteps;
};

// A free name beside path (same folder, so a move stays on its volume): the
// file is made empty so the name stays ours; empty when it cannot be made.
CStr FileBeside(const CStr& path, const wchar_t* prefix);

// Removes the pending restart operations whose source is path; 1 when the
// list was read and written back (or holds none of them).
int UnscheduleAtRestart(const CStr& path);
