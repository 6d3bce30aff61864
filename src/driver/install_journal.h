// What one legacy or virtual installation changes on the machine, step by
// step, so that a failed one can be taken back: files it creates, files it
// replaces, deletes or renames (each old file kept beside it until the
// installation is done), moves it schedules for the next restart, services
// it creates, and the registry keys and values its AddReg and DelReg lines
// touch, with what each value held before. Nothing that existed before the
// run is removed by an undo.
//
// Each step is written to a journal file in the log folder before it is
// taken, as Windows Installer keeps its rollback script in Config.Msi: an
// installation that is killed leaves its journal, and the next run of any
// package finishes it (FinishInterrupted). The journal stays open, shared for
// reading only, while its run lives; a journal that can be opened for
// writing belongs to a run that ended. Each record is handed to the system
// with one WriteFile before the step: it survives the process, not a power
// cut (the file is not flushed at every step, which would cost a disk
// round trip per file of a large package).
#pragma once

#include "CStr.h"
#include "win_handle.h"

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

class InstallJournal {
public:
    InstallJournal() = default;
    // An installation that neither committed nor undid (an exception went
    // through it) is undone; its lines become notes beside the reason.
    ~InstallJournal();
    InstallJournal(const InstallJournal&) = delete;
    InstallJournal& operator=(const InstallJournal&) = delete;

    // Each records a step before it is taken: 1, or 0 with the reason when
    // the journal could not be written (the step must then not be taken).
    int TemporaryFile(const CStr& path);
    int FileCreated(const CStr& path);
    // keptOld is made and about to receive a copy of an existing file.
    int BackupStarted(const CStr& keptOld);
    // keptOld holds the whole old target, which is about to be replaced.
    int FileReplaced(const CStr& target, const CStr& keptOld);
    // path is about to be moved aside to keptOld.
    int FileDeleted(const CStr& path, const CStr& keptOld);
    int FileRenamed(const CStr& from, const CStr& to);
    // A move of source to target (empty: a deletion) about to be registered
    // for the next restart; a temporary source goes with its undo.
    int ScheduledAtRestart(const CStr& source, const CStr& target, bool temporary);
    // A service that does not exist yet and the next call may create.
    int ServiceCreated(const CStr& name);
    // The registry state a line is about to change, read now: the key (and
    // which of its parents does not exist yet) and the value with its data.
    int RegistryValue(HKEY root, const CStr& subkey, const CStr& name);
    int RegistryKey(HKEY root, const CStr& subkey);
    // A device node just registered (instanceId, as SetupAPI names it),
    // which the undo removes.
    int DeviceNode(const CStr& instanceId);
    // stagedInf is about to be handed to newdev, which copies it into the
    // system's INF folder under a name of its own (oemN.inf): the copies of
    // it there now are noted, and any other the undo finds goes.
    int InfStaged(const CStr& stagedInf);

    // Takes every step back, the last first. Every step that fails leaves a
    // line in lines; the ones that succeed are listed up to kListedSteps,
    // the rest counted in one line. The journal file goes afterwards.
    void Undo(std::vector<std::wstring>& lines);
    // Keeps every step: the old files kept for an undo and the journal go.
    void Commit();

    static constexpr size_t kListedSteps = 20;

    struct Finished {
        CStr journal;
        bool committed = false;  // the run had committed: only its kept old files went
        std::vector<std::wstring> lines;
    };
    // Finishes every journal in the log folder whose run ended without
    // finishing it: undoes its steps, or completes a commit it had begun.
    static std::vector<Finished> FinishInterrupted();

    // %systemdrive%\tzrsystem\log\, where the journals are kept.
    static CStr Folder();

    enum Kind : wchar_t {
        kTemporary = L'T',
        kCreated = L'C',
        kBackup = L'B',
        kReplaced = L'R',
        kDeleted = L'D',
        kRenamed = L'N',
        kScheduled = L'S',
        kService = L'V',
        kKey = L'K',
        kValue = L'G',
        kStagedInf = L'I',
        kDeviceNode = L'P',
        kCommitting = L'X',
        kEnded = L'E',
    };
    struct Step {
        explicit Step(Kind k, std::wstring first = {}, std::wstring second = {}, std::wstring third = {})
            : kind(k), a(std::move(first)), b(std::move(second)), c(std::move(third))
        {
        }
        Kind kind;
        std::wstring a, b, c;     // paths, names, or the root and key of a registry step
        bool flag = false;        // temporary source, value or key existed before
        DWORD type = REG_NONE;    // a value's type before
        std::vector<BYTE> data;   // a value's data before
    };

private:
    int Record(Step step);
    void Close();

    std::vector<Step> m_vSteps;
    UniqueHandle m_hFile;
    CStr m_sPath;
    bool m_bOpen = false;  // there is work that neither Commit nor Undo ended
};

// The system's INF folder (C:\windows\inf), without a trailing backslash.
CStr SystemInfFolder();

// A free name beside path (same folder, so a move stays on its volume): the
// file is made empty so the name stays ours; empty when it cannot be made.
CStr FileBeside(const CStr& path, const wchar_t* prefix);

// Removes the last pending restart operation that moves source to target
// (empty: deletes source): the one this run registered, not an earlier
// run's. ERROR_SUCCESS also when there is none; else the error, with the
// call that failed in failedCall.
DWORD UnscheduleAtRestart(const CStr& source, const CStr& target, std::wstring& failedCall);
