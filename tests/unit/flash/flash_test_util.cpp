#include "flash_test_util.h"

#include "process_log.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<size_t> g_allocationLimit{static_cast<size_t>(-1)};

std::wstring CurrentDirectory()
{
    wchar_t buffer[MAX_PATH];
    const DWORD n = GetCurrentDirectoryW(MAX_PATH, buffer);
    return std::wstring(buffer, n < MAX_PATH ? n : 0);
}

std::wstring ProcessLogPath()
{
    return L"C:" + tzrtest::Widen(LogVerboseFilePath());
}

}  // namespace

// Replaced for the whole test program; limited only while asked.
void* operator new(size_t size)
{
    if (size > g_allocationLimit.load())
        throw std::bad_alloc();
    void* p = malloc(size ? size : 1);
    if (!p)
        throw std::bad_alloc();
    return p;
}

void operator delete(void* p) noexcept
{
    free(p);
}

void operator delete(void* p, size_t) noexcept
{
    free(p);
}

namespace flashtest {

ToolFolder::ToolFolder(const std::string& name, const std::string& scenario, bool withTool)
    : m_previous(CurrentDirectory())
{
    m_folder = m_previous + L"\\" + tzrtest::Widen(name);
    tzrtest::RemoveTree(m_folder);
    tzrtest::MakeDirs(m_folder);
    if (withTool) {
        CopyFileW(tzrtest::BuildFile(L"tools\\mnv-sim\\mnv_sim.exe").c_str(), PathOf(L"mnv_cli.exe").c_str(), FALSE);
        AddFile(L"mnv_sim.ini", scenario);
    }
    SetCurrentDirectoryW(m_folder.c_str());
    tzrtest::MakeDirs(L"C:\\tzrsystem\\log");
}

ToolFolder::~ToolFolder()
{
    SetCurrentDirectoryW(m_previous.c_str());
}

void ToolFolder::AddFile(const std::wstring& name, const std::string& bytes) const
{
    tzrtest::WriteFileBytes(PathOf(name), bytes);
}

std::string ToolFolder::ToolLine() const
{
    return "Vendor tool: " + tzrtest::Narrow(PathOf(L"mnv_cli.exe"));
}

std::vector<std::string> ToolFolder::Calls() const
{
    return tzrtest::SplitCrLf(tzrtest::ReadFileBytes(PathOf(L"mnv_sim.calls.log")));
}

LogTail::LogTail()
{
    tzrtest::MakeDirs(L"C:\\tzrsystem\\log");
    m_start = tzrtest::ReadFileBytes(ProcessLogPath()).size();
}

std::string LogTail::Text() const
{
    const std::string all = tzrtest::ReadFileBytes(ProcessLogPath());
    return all.size() > m_start ? all.substr(m_start) : std::string();
}

std::vector<std::string> LogTail::Lines() const
{
    std::vector<std::string> lines;
    for (const std::string& line : tzrtest::SplitCrLf(Text()))
        lines.push_back(tzrtest::StripUtcStamp(line));
    return lines;
}

AllocationLimit::AllocationLimit(size_t limit)
{
    g_allocationLimit = limit;
}

AllocationLimit::~AllocationLimit()
{
    g_allocationLimit = static_cast<size_t>(-1);
}

}  // namespace flashtest
