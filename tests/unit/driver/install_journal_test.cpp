// The undo journal takes an installation's steps back from what it wrote to
// disk before each: here the steps that fail, the registry state it records,
// the restart queue it shares with other runs, and a journal whose run ended.
#include "driver_api.h"
#include "driver_failure.h"
#include "driver_fixtures.h"
#include "install_journal.h"
#include "pnp_journal.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tzrtest;

namespace {

const wchar_t kKey[] = L"Software\\TzrJournalTest";

class Journal : public ::testing::Test {
protected:
    void SetUp() override
    {
        MakeDirs(m_drive.LogFolder());
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kKey);
        driverfail::Reset();
    }
    void TearDown() override
    {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kKey);
        driverfail::Reset();
    }
    std::wstring File(const wchar_t* name) const { return m_drive.Path() + L"\\" + name; }
    std::vector<std::wstring> Journals() const
    {
        std::vector<std::wstring> names;
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((m_drive.LogFolder() + L"tzrundo-*").c_str(), &found);
        for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found) != FALSE)
            names.push_back(found.cFileName);
        if (search != INVALID_HANDLE_VALUE)
            FindClose(search);
        return names;
    }
    ScopedSystemDrive m_drive{L"journal"};
};

BOOL WINAPI DeleteRefused(LPCWSTR)
{
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

// An undo step that fails is said in full beside the installation's reason,
// which stays; the steps after it are still taken, and the journal goes.
TEST_F(Journal, AFailedUndoStepIsLoggedBesideTheCause)
{
    const std::wstring created = File(L"created.sys");
    const std::wstring replaced = File(L"replaced.sys");
    WriteFileBytes(replaced, "old");
    {
        InstallJournal journal;
        ASSERT_TRUE(journal.FileCreated(CStr(created.c_str())));
        WriteFileBytes(created, "new");
        const std::wstring kept = File(L"kept.tmp");
        WriteFileBytes(kept, "old");
        ASSERT_TRUE(journal.FileReplaced(CStr(replaced.c_str()), CStr(kept.c_str())));
        WriteFileBytes(replaced, "new");
        EXPECT_EQ(1u, Journals().size()) << "on disk before the step is taken";
        driverfail::Refused(L"the cause");
        driverapi::OverrideForTest(driverapi::kDeleteFileW, reinterpret_cast<void*>(&DeleteRefused));
        std::vector<std::wstring> lines;
        journal.Undo(lines);
        driverapi::OverrideForTest(driverapi::kDeleteFileW, nullptr);
        EXPECT_EQ((std::vector<std::wstring>{L"Undone: put back the earlier " + replaced,
                                             L"Not undone: " + driverfail::CallReason(L"DeleteFileW(" + created + L")",
                                                                                      ERROR_ACCESS_DENIED)}),
                  lines);
    }
    EXPECT_EQ(L"    - the cause\r\n", driverfail::Line());
    EXPECT_EQ("old", ReadFileBytes(replaced));
    EXPECT_TRUE(FileExists(created)) << "its deletion was refused";
    DeleteFileW(created.c_str());
    DeleteFileW(replaced.c_str());
    EXPECT_TRUE(Journals().empty());
}

// A journal that neither commits nor undoes (an exception went through the
// installation) undoes; its lines are notes beside the reason. A long undo
// lists what failed and counts the rest, each line whole.
TEST_F(Journal, AnUnfinishedJournalUndoesAndCountsWhatItDoesNotList)
{
    const size_t kFiles = 60;
    {
        InstallJournal journal;
        for (size_t i = 0; i < kFiles; ++i) {
            const std::wstring path = File((L"f" + std::to_wstring(i) + L".sys").c_str());
            ASSERT_TRUE(journal.FileCreated(CStr(path.c_str())));
            WriteFileBytes(path, "x");
        }
    }
    const std::vector<std::wstring>& notes = driverfail::Notes();
    ASSERT_EQ(InstallJournal::kListedSteps + 1, notes.size());
    EXPECT_EQ(L"Undone: removed " + File(L"f59.sys") + L", which this installation created", notes.front());
    EXPECT_EQ(L"Undone also: " + std::to_wstring(kFiles - InstallJournal::kListedSteps) +
                  L" more steps of the same kinds, not listed one by one",
              notes.back());
    for (size_t i = 0; i < kFiles; ++i)
        EXPECT_FALSE(FileExists(File((L"f" + std::to_wstring(i) + L".sys").c_str()))) << i;
}

// AddReg and DelReg lines are taken back from the state recorded before
// them: a value that existed gets its type and bytes back, a new value and
// a new key go, and what the key held besides stays.
TEST_F(Journal, RegistryStateComesBack)
{
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    const wchar_t old[] = L"old text";
    RegSetValueExW(key, L"Kept", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(old), sizeof old);
    RegSetValueExW(key, L"Other", 0, REG_SZ, reinterpret_cast<const BYTE*>(old), sizeof old);
    const std::wstring sub = std::wstring(kKey) + L"\\New\\Deeper";
    {
        InstallJournal journal;
        ASSERT_TRUE(journal.RegistryValue(HKEY_LOCAL_MACHINE, CStr(kKey), CStr(L"Kept")));
        ASSERT_TRUE(journal.RegistryValue(HKEY_LOCAL_MACHINE, CStr(kKey), CStr(L"Added")));
        ASSERT_TRUE(journal.RegistryKey(HKEY_LOCAL_MACHINE, CStr(sub.c_str())));
        const DWORD one = 1;
        RegSetValueExW(key, L"Kept", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);
        RegSetValueExW(key, L"Added", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);
        HKEY deeper = nullptr;
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, sub.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &deeper, nullptr);
        RegCloseKey(deeper);
        std::vector<std::wstring> lines;
        journal.Undo(lines);
        EXPECT_EQ((std::vector<std::wstring>{
                      L"Undone: removed registry key HKLM\\" + std::wstring(kKey) + L"\\New, which this installation created",
                      L"Undone: removed registry value HKLM\\" + std::wstring(kKey) + L"\\Added, which this installation wrote",
                      L"Undone: put back the earlier registry value HKLM\\" + std::wstring(kKey) + L"\\Kept"}),
                  lines);
    }
    wchar_t text[64] = L"";
    DWORD type = 0, size = sizeof text;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, L"Kept", nullptr, &type, reinterpret_cast<BYTE*>(text), &size));
    EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), type);
    EXPECT_STREQ(old, text);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExW(key, L"Added", nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, L"Other", nullptr, nullptr, nullptr, nullptr));
    RegCloseKey(key);
}

// Of two runs that scheduled the same deletion for the restart, the undo
// takes back its own entry only.
TEST_F(Journal, OnlyThisRunsRestartEntryIsUnscheduled)
{
    const std::wstring path = File(L"busy.sys");
    WriteFileBytes(path, "x");
    const wchar_t session[] = L"System\\CurrentControlSet\\Control\\Session Manager";
    std::vector<BYTE> saved(65536);
    DWORD savedSize = static_cast<DWORD>(saved.size());
    const bool hadQueue = RegGetValueW(HKEY_LOCAL_MACHINE, session, L"PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ,
                                       nullptr, saved.data(), &savedSize) == ERROR_SUCCESS;
    ASSERT_TRUE(MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) << "an earlier run's";
    auto queue = [&] {
        std::vector<BYTE> data(65536);
        DWORD size = static_cast<DWORD>(data.size());
        RegGetValueW(HKEY_LOCAL_MACHINE, session, L"PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ, nullptr,
                     data.data(), &size);
        return std::string(reinterpret_cast<char*>(data.data()), size);
    };
    const std::string before = queue();
    {
        InstallJournal journal;
        ASSERT_TRUE(journal.ScheduledAtRestart(CStr(path.c_str()), CStr(), false));
        ASSERT_TRUE(MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
        EXPECT_NE(before, queue());
        std::vector<std::wstring> lines;
        journal.Undo(lines);
        EXPECT_EQ(std::vector<std::wstring>{L"Undone: unscheduled the restart operation on " + path}, lines);
    }
    EXPECT_EQ(before, queue()) << "the earlier run's entry stays";
    HKEY key = nullptr;
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, session, 0, KEY_SET_VALUE, &key);
    if (hadQueue)
        RegSetValueExW(key, L"PendingFileRenameOperations", 0, REG_MULTI_SZ, saved.data(), savedSize);
    else
        RegDeleteValueW(key, L"PendingFileRenameOperations");
    RegCloseKey(key);
    DeleteFileW(path.c_str());
}

// What newdev does with a package (copy its files, replace one that was
// there, create its service, put a copy of its INF in the system's INF
// folder; done here by hand, as Wine's newdev only does part of it) is taken
// back from what was noted before it ran.
TEST_F(Journal, WhatNewdevDidIsTakenBackFromWhatWasNotedBefore)
{
    const std::wstring dest = File(L"dest");
    MakeDirs(dest);
    WriteFileBytes(dest + L"\\old.sys", "old");
    const std::wstring staged = File(L"tzrjournalpnp.inf");
    WriteFileBytes(staged, "[Version]\r\nSignature=\"$Windows NT$\"\r\n[DestinationDirs]\r\nDefaultDestDir=24,dest\r\n"
                           "[Drv]\r\nCopyFiles=Drv.Files\r\n[Drv.Services]\r\nAddService=TzrJournalPnp,2,Svc\r\n"
                           "[Drv.Files]\r\nnew.sys\r\nold.sys\r\n[Svc]\r\nServiceType=1\r\nStartType=3\r\n"
                           "ErrorControl=1\r\nServiceBinary=%12%\\new.sys\r\n");
    const std::wstring copy = std::wstring(SystemInfFolder().c_str()) + L"\\tzrjournalpnp.inf";
    DeleteFileW(copy.c_str());
    RemoveService(L"TzrJournalPnp");
    {
        InstallJournal journal;
        ASSERT_TRUE(NoteBeforeNewdev(CStr(staged.c_str()), journal)) << driverfail::Line();
        WriteFileBytes(dest + L"\\new.sys", "new");
        WriteFileBytes(dest + L"\\old.sys", "new");
        TestService service(L"TzrJournalPnp", dest + L"\\new.sys");
        ASSERT_TRUE(service.Created());
        ASSERT_TRUE(CopyFileW(staged.c_str(), copy.c_str(), FALSE));
        std::vector<std::wstring> lines;
        journal.Undo(lines);
        EXPECT_EQ((std::vector<std::wstring>{
                      L"Undone: removed the driver package " + copy + L", which this installation staged",
                      L"Undone: deleted service TzrJournalPnp, which this installation created",
                      L"Undone: put back the earlier " + dest + L"\\old.sys",
                      L"Undone: removed " + dest + L"\\new.sys, which this installation created"}),
                  lines);
        EXPECT_FALSE(ServiceExists(L"TzrJournalPnp"));
    }
    EXPECT_FALSE(FileExists(copy));
    EXPECT_EQ("old", ReadFileBytes(dest + L"\\old.sys"));
    EXPECT_FALSE(FileExists(dest + L"\\new.sys"));
    RemoveTree(dest);
    DeleteFileW(staged.c_str());
}

}  // namespace
