// A component test with a package folder of its own: the test runs with that
// folder as current directory, its own system drive folder for the logs and
// its own verbose file, so the files and log lines it reads are its own.
#pragma once

#include "base_component.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

namespace tzrtest {

class PackageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        wchar_t cwd[MAX_PATH];
        GetCurrentDirectoryW(MAX_PATH, cwd);
        m_home = cwd;
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "." + info->name();
        for (char& c : name)
            if (c == '/')
                c = '_';
        m_folder = m_home + L"\\" + Widen(name);
        RemoveTree(m_folder);
        MakeDirs(m_folder);
        SetCurrentDirectoryW(m_folder.c_str());
        m_drive = m_folder + L"\\drive";
        CreateDirectoryW(m_drive.c_str(), nullptr);
        GetEnvironmentVariableW(L"SystemDrive", m_savedDrive, MAX_PATH);
        SetEnvironmentVariableW(L"SystemDrive", m_drive.c_str());
        m_verbose = m_drive + L"\\verbose.log";
        SetEnvironmentVariableW(L"CMPLOG2_VERBOSE_FILENAME", m_verbose.c_str());
    }
    void TearDown() override
    {
        SetEnvironmentVariableW(L"CMPLOG2_VERBOSE_FILENAME", nullptr);
        SetEnvironmentVariableW(L"SystemDrive", m_savedDrive);
        SetCurrentDirectoryW(m_home.c_str());
        RemoveTree(m_folder);
    }

    // A component whose verbose log is open.
    static void OpenLog(CBaseComponent& c) { c.m_pLog->Open(); }

    // The verbose log's entries with their "[time]::source[line] " header
    // replaced by "source> ".
    std::vector<std::string> VerboseLines() const
    {
        std::vector<std::string> lines;
        static const std::regex header(R"(^\[\d{1,2}:\d{2}:\d{2}\]::(\w+)\[\d+\] )");
        for (const std::string& line : SplitCrLf(ReadFileBytes(m_verbose)))
            lines.push_back(std::regex_replace(line, header, "$1> "));
        return lines;
    }
    // Only the lines that start with prefix.
    std::vector<std::string> VerboseLinesStartingWith(const std::string& prefix) const
    {
        std::vector<std::string> picked;
        for (const std::string& line : VerboseLines())
            if (line.compare(0, prefix.size(), prefix) == 0)
                picked.push_back(line);
        return picked;
    }

    void AddFile(const std::wstring& name, const std::string& bytes) const { WriteFileBytes(name, bytes); }

    std::wstring m_home, m_folder, m_drive, m_verbose;
    wchar_t m_savedDrive[MAX_PATH] = L"C:";
};

// A package definition around the given children of tzr_package.
inline std::string Package(const std::string& children)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<tzr_package>" + children + "</tzr_package>\r\n";
}

}  // namespace tzrtest
