// Version records of libraries the build makes with known version resources.
#include "driver_fixtures.h"
#include "file_version.h"
#include "framework_module.h"
#include "test_support.h"
#include "win_handle.h"

#include <gtest/gtest.h>

#include <string>

using namespace tzrtest;

namespace {

std::wstring Versioned(const std::wstring& name)
{
    return BuildFile(L"tests\\unit\\versioned\\versioned_" + name + L".dll");
}

TEST(FileVersion, TextAndNumbersFromTheResource)
{
    struct Case {
        const wchar_t* name;
        const wchar_t* text;
        DWORD ms, ls;
    } cases[] = {
        {L"5_2_3790_0", L"5.2.3790.0", 0x00050002, 0x0ECE0000},
        {L"1_0_0_10", L"1.0.0.10", 0x00010000, 0x0000000A},
        {L"65535_0_0_0", L"65535.0.0.0", 0xFFFF0000, 0},
    };
    for (const Case& c : cases) {
        const CFileVersionInfo info(Versioned(c.name).c_str());
        EXPECT_EQ(1, info.HasVersion()) << Narrow(c.name);
        EXPECT_EQ(CStr(c.text), info.GetFileVersionText()) << Narrow(c.name);
        EXPECT_EQ(c.ms, info.m_dwFileVersionMS) << Narrow(c.name);
        EXPECT_EQ(c.ls, info.m_dwFileVersionLS) << Narrow(c.name);
        EXPECT_EQ(c.ms, info.m_dwProductVersionMS) << Narrow(c.name);
        EXPECT_NE(0u, info.m_dwSize);
    }
}

TEST(FileVersion, ComparesNumbersNotTexts)
{
    struct Case {
        const wchar_t* left;
        const wchar_t* right;
        int newer, same;
    } cases[] = {
        {L"1_0_0_10", L"1_0_0_9", 1, 0},  {L"1_0_0_9", L"1_0_0_10", 0, 0},
        {L"1_0_0_10", L"1_0_1_0", 0, 0},  {L"1_0_1_0", L"1_0_0_10", 1, 0},
        {L"65535_0_0_0", L"1_0_0_0", 1, 0}, {L"1_0_0_0", L"65535_0_0_0", 0, 0},
        {L"1_0_0_10", L"1_0_0_10", 0, 1},
    };
    for (const Case& c : cases) {
        const CFileVersionInfo left(Versioned(c.left).c_str());
        const CFileVersionInfo right(Versioned(c.right).c_str());
        EXPECT_EQ(c.newer, left.IsNewerThan(right)) << Narrow(c.left) << " vs " << Narrow(c.right);
        EXPECT_EQ(c.same, left.IsSameVersion(right)) << Narrow(c.left) << " vs " << Narrow(c.right);
    }
    // A record from numbers compares with one read from a file; only the
    // file version counts.
    const CFileVersionInfo package(0x00090009, 9, 0x00010000, 10, 0, 0, 0);
    EXPECT_EQ(1, package.IsSameVersion(CFileVersionInfo(Versioned(L"1_0_0_10").c_str())));
    EXPECT_EQ(1, package.IsNewerThan(CFileVersionInfo(Versioned(L"1_0_0_9").c_str())));
    EXPECT_EQ(1, CFileVersionInfo(0, 0, 0x80000000, 0, 0, 0, 0).IsNewerThan(package)) << "unsigned comparison";
}

TEST(FileVersion, FilesWithoutAResourceOrMissing)
{
    // No resource: the time is known, so the record has a version, with no text.
    CFileVersionInfo none(Versioned(L"none").c_str());
    EXPECT_EQ(0, none.Read());
    EXPECT_EQ(1, none.HasVersion());
    EXPECT_EQ(CStr(), none.GetFileVersionText());
    EXPECT_EQ(0u, none.m_dwFileVersionMS | none.m_dwFileVersionLS);

    const CFileVersionInfo missing(L"C:\\tzr-no-such-folder\\missing.sys");
    EXPECT_EQ(0, missing.HasVersion());
    EXPECT_EQ(CStr(), missing.GetFileVersionText());
    EXPECT_EQ(0u, missing.m_dwSize);

    CFileVersionInfo empty(L"");
    EXPECT_EQ(0, empty.Read());
    EXPECT_EQ(0, empty.HasVersion());
    const CFileVersionInfo null(static_cast<const wchar_t*>(nullptr));
    EXPECT_EQ(0, null.HasVersion());
}

TEST(FileVersion, PathWithoutDriveIsReadFromThePluginFolder)
{
    // The plug-in is a library loaded from the versioned folder; a decoy of
    // the same name with another version sits in the current directory.
    UniqueModule plugin(LoadLibraryW(Versioned(L"1_0_0_0").c_str()));
    ASSERT_TRUE(plugin);
    const HINSTANCE saved = g_hFrameworkModule;
    g_hFrameworkModule = plugin.get();

    wchar_t home[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, home);
    const std::wstring elsewhere = std::wstring(home) + L"\\elsewhere";
    MakeDirs(elsewhere);
    CopyFileW(Versioned(L"1_0_0_9").c_str(), (elsewhere + L"\\versioned_1_0_0_10.dll").c_str(), FALSE);
    CopyFileW(Versioned(L"1_0_0_9").c_str(), (elsewhere + L"\\elsewhere-only.dll").c_str(), FALSE);
    SetCurrentDirectoryW(elsewhere.c_str());

    EXPECT_EQ(CStr(L"1.0.0.10"), CFileVersionInfo(L"versioned_1_0_0_10.dll").GetFileVersionText());
    EXPECT_EQ(CStr(L"1.0.0.0"), CFileVersionInfo(L"versioned_1_0_0_0.dll").GetFileVersionText());
    EXPECT_EQ(CStr(), CFileVersionInfo(L"elsewhere-only.dll").GetFileVersionText());
    // A full path is read where it stands.
    EXPECT_EQ(CStr(L"1.0.0.9"),
              CFileVersionInfo((elsewhere + L"\\versioned_1_0_0_10.dll").c_str()).GetFileVersionText());

    SetCurrentDirectoryW(home);
    RemoveTree(elsewhere);
    g_hFrameworkModule = saved;
}

}  // namespace
