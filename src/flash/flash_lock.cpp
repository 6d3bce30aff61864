#include "flash_lock.h"

#include "process_log.h"

#include <cstdio>
#include <memory>

LockNamespaceApi g_lockNamespaceApi = {
    CreateBoundaryDescriptorW, AddSIDToBoundaryDescriptor, DeleteBoundaryDescriptor, CreatePrivateNamespaceW,
    OpenPrivateNamespaceW,
};

namespace {

const DWORD kPollMs = 100;
// How long a record may look unfinished before that is taken as the truth:
// long enough for a holder between making the section and writing its
// record.
const ULONGLONG kSettleMs = 3000;
const LONG kRecordMagic = 0x315a5254;  // "TRZ1"

// The record at the start of the section. Written by the holder only, read
// by anyone; each field is one aligned 32-bit word, and the magic is written
// last, so a record with it is whole.
struct LockRecord {
    volatile LONG magic;
    volatile LONG processId;
    volatile LONG activity;
    volatile LONG toolProcessId;
};

// Lock objects this process holds now: a record naming this process is
// another part of it only while one is held; otherwise it is a tool of ours
// that has just ended.
LONG g_heldHere = 0;

const wchar_t kNamespaceAlias[] = L"TZR.NVMeBootController";
const wchar_t kPrivateLeaf[] = L"\\FirmwareWrite";

std::wstring g_name;
HANDLE g_namespace = nullptr;  // kept for the process's life, and handed to every tool

bool ProcessGone(DWORD processId)
{
    if (processId == 0)
        return true;
    UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, processId));
    return !process || WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0;
}

std::string ErrorText(const char* what, DWORD error)
{
    char text[256];
    snprintf(text, sizeof text, "%s (error %lu)", what, static_cast<unsigned long>(error));
    return text;
}

// Chooses the lock's name once: the private namespace bounded by the
// Administrators group where the system has one.
void ChooseName()
{
    const LockNamespaceApi& api = g_lockNamespaceApi;
    SetLastError(0);
    HANDLE boundary = api.createBoundaryDescriptor(kNamespaceAlias, 0);
    if (!boundary) {
        LogPrint(kLogVerbose,
                 "Private namespaces are not available (error %lu); the firmware lock keeps its public name %ls\n",
                 GetLastError(), MachineFlashLock::kPublicName);
        g_name = MachineFlashLock::kPublicName;
        return;
    }
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof sid;
    HANDLE space = nullptr;
    DWORD error = 0;
    if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &sidSize) ||
        !api.addSidToBoundaryDescriptor(&boundary, sid)) {
        error = GetLastError();
    } else {
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        space = api.createPrivateNamespace(&inherit, boundary, kNamespaceAlias);
        error = GetLastError();
        if (!space && error == ERROR_ALREADY_EXISTS) {
            space = api.openPrivateNamespace(boundary, kNamespaceAlias);
            error = GetLastError();
            // An opened handle is made inheritable after the fact.
            if (space)
                SetHandleInformation(space, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
        }
    }
    api.deleteBoundaryDescriptor(boundary);
    if (!space) {
        LogPrint(kLogVerbose, "The firmware lock's private namespace cannot be made (error %lu); it keeps its "
                              "public name %ls\n",
                 static_cast<unsigned long>(error), MachineFlashLock::kPublicName);
        g_name = MachineFlashLock::kPublicName;
        return;
    }
    g_namespace = space;
    g_name = std::wstring(kNamespaceAlias) + kPrivateLeaf;
}

// What a name held by no lock of ours is, for the refusal's line.
std::string NotOurs(DWORD error)
{
    switch (error) {
    case ERROR_INVALID_HANDLE:
        return ErrorText("the name is held by an object that is not a section (an event, a mutex or a semaphore)",
                         error);
    case ERROR_ACCESS_DENIED:
        return ErrorText("the name's object refuses us access", error);
    default:
        return ErrorText("the lock's section cannot be made", error);
    }
}

}  // namespace

const wchar_t MachineFlashLock::kPublicName[] = L"Global\\TZR.NVMeBootController.FirmwareWrite";

const std::wstring& MachineFlashLock::Name()
{
    if (g_name.empty())
        ChooseName();
    return g_name;
}

void ResetLockNameForTest()
{
    g_name.clear();
    g_namespace = nullptr;
}

MachineFlashLock::Result MachineFlashLock::Acquire(FlashActivity activity, Wait policy, DWORD waitMs,
                                                   FlashLockHolder& holder, std::string& reason,
                                                   void (*onWait)(const FlashLockHolder&, DWORD))
{
    Relinquish();
    reason.clear();
    holder = FlashLockHolder();
    // Inheritable, but only the tools this lock is handed to get it.
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    const ULONGLONG start = GetTickCount64();
    ULONGLONG unsettledSince = 0;  // since when the record has not parsed
    unsigned polls = 0;
    bool told = false;
    for (;;) {
        SetLastError(0);
        UniqueHandle section(CreateFileMappingW(INVALID_HANDLE_VALUE, &inherit, PAGE_READWRITE, 0,
                                                sizeof(LockRecord), Name().c_str()));
        const DWORD created = GetLastError();
        if (!section) {
            reason = NotOurs(created);
            return Result::kFailed;
        }
        UniqueView view(MapViewOfFile(section.get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(LockRecord)));
        if (!view) {
            // A section of the name too small for the record is not ours.
            reason = ErrorText("the name is held by a section that is not the lock's", GetLastError());
            return Result::kFailed;
        }
        LockRecord* record = static_cast<LockRecord*>(view.get());
        const bool ours = created != ERROR_ALREADY_EXISTS;
        const bool whole = record->magic == kRecordMagic;
        const DWORD processId = whole ? static_cast<DWORD>(record->processId) : 0;
        const FlashActivity recorded = whole ? static_cast<FlashActivity>(record->activity) : FlashActivity::kNone;
        // Made for this call alone, or left by this process's own tool that
        // has just ended: ours to take without a wait.
        if (ours || (whole && processId == GetCurrentProcessId() && InterlockedCompareExchange(&g_heldHere, 0, 0) == 0)) {
            record->activity = static_cast<LONG>(activity);
            record->toolProcessId = 0;
            record->processId = static_cast<LONG>(GetCurrentProcessId());
            InterlockedExchange(&record->magic, kRecordMagic);
            m_view = std::move(view);
            m_section = std::move(section);
            InterlockedIncrement(&g_heldHere);
            return Result::kAcquired;
        }

        holder.processId = processId;
        holder.activity = recorded;
        holder.processEnded = processId != 0 && ProcessGone(processId);
        const bool toolRuns = whole && !ProcessGone(static_cast<DWORD>(record->toolProcessId));
        // A holder of ours is alive, or its tool still runs after it died;
        // anything else keeps the name without holding the machine.
        const bool held = whole && recorded != FlashActivity::kNone && (!holder.processEnded || toolRuns);
        view.reset();
        section.reset();
        const ULONGLONG now = GetTickCount64();
        if (!whole) {
            // A record that does not parse, once its maker has had time to
            // write it, is no lock of ours: nothing to wait for.
            if (unsettledSince == 0)
                unsettledSince = now;
            if (now - unsettledSince >= kSettleMs) {
                reason = "the name is held by a section that carries no lock record";
                return Result::kFailed;
            }
        } else {
            unsettledSince = 0;
            // Kept open without a holder of ours (given back, or its holder
            // and tool ended): a process a tool left behind, or one that
            // opened the name. No write of ours runs, so both kinds of
            // caller wait for it, within the bound, and are then told so.
            const bool mayWait = !held || policy == Wait::kForAny || holder.activity == FlashActivity::kInventory;
            if (!held)
                holder.activity = FlashActivity::kNone;
            if (now - start >= waitMs && !held) {
                reason = recorded == FlashActivity::kNone
                             ? "the lock's section is kept open by a process that does not hold it"
                             : "the lock's section is kept open after its holder and its tool have ended";
                return Result::kFailed;
            }
            if (!mayWait || now - start >= waitMs)
                return Result::kBusy;
            // A holder that is gone by the next look was only handing over,
            // and a section kept a moment past its holder's end is a process
            // of ours still closing its handles: neither is a wait worth a
            // line.
            ++polls;
            if (!told && onWait && (held ? polls == 2 : now - start >= kSettleMs)) {
                onWait(holder, waitMs);
                told = true;
            }
        }
        Sleep(kPollMs);
    }
}

void MachineFlashLock::SetTool(DWORD processId)
{
    if (m_view)
        InterlockedExchange(&static_cast<LockRecord*>(m_view.get())->toolProcessId, static_cast<LONG>(processId));
}

void MachineFlashLock::Relinquish()
{
    if (!m_section)
        return;
    // Given back on record: whoever still keeps the section open after this
    // (a tool's leftover, or a process that opened it) holds no write.
    if (m_view)
        InterlockedExchange(&static_cast<LockRecord*>(m_view.get())->activity, static_cast<LONG>(FlashActivity::kNone));
    m_view.reset();
    m_section.reset();
    InterlockedDecrement(&g_heldHere);
}

std::vector<HANDLE> MachineFlashLock::HandlesToInherit() const
{
    std::vector<HANDLE> handles;
    if (m_section)
        handles.push_back(m_section.get());
    // The namespace must outlive this host for a tool that outlives it.
    if (m_section && g_namespace)
        handles.push_back(g_namespace);
    return handles;
}

const char* DescribeHolder(const FlashLockHolder& holder, char* text, size_t size)
{
    const char* what = holder.activity == FlashActivity::kFlash       ? "writing firmware"
                       : holder.activity == FlashActivity::kInventory ? "querying the controllers"
                                                                      : "starting";
    if (holder.processId == 0)
        snprintf(text, size, "a process not known");
    else if (holder.activity == FlashActivity::kNone)
        snprintf(text, size, "a process that keeps the lock open after process %lu gave it back",
                 static_cast<unsigned long>(holder.processId));
    else if (holder.processEnded)
        snprintf(text, size, "process %lu (%s), which has ended while its tool still runs",
                 static_cast<unsigned long>(holder.processId), what);
    else
        snprintf(text, size, "process %lu (%s)", static_cast<unsigned long>(holder.processId), what);
    return text;
}
