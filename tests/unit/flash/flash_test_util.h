// Helpers of the flash engine's unit tests: a folder holding the simulated
// vendor tool as the current directory, the new part of the process log,
// and a switch that makes large allocations fail.
#pragma once

#include "test_support.h"

#include <cstddef>
#include <string>
#include <vector>

namespace flashtest {

// Makes the folder <test folder>\name with mnv_cli.exe (the simulator) and
// the given mnv_sim.ini, and enters it; the destructor goes back.
class ToolFolder {
public:
    ToolFolder(const std::string& name, const std::string& scenario, bool withTool = true);
    ~ToolFolder();
    ToolFolder(const ToolFolder&) = delete;
    ToolFolder& operator=(const ToolFolder&) = delete;

    std::wstring PathOf(const std::wstring& name) const { return m_folder + L"\\" + name; }
    void AddFile(const std::wstring& name, const std::string& bytes) const;
    // The simulator's recorded command lines.
    std::vector<std::string> Calls() const;
    // The process-log line that names the tool started from this folder.
    std::string ToolLine() const;

private:
    std::wstring m_folder;
    std::wstring m_previous;
};

// The text the process log gained since construction, split into CR LF
// lines with the UTC stamps removed.
class LogTail {
public:
    LogTail();
    std::vector<std::string> Lines() const;
    std::string Text() const;

private:
    size_t m_start = 0;
};

// Every operator new of more than limit bytes throws std::bad_alloc while
// an AllocationLimit lives.
class AllocationLimit {
public:
    explicit AllocationLimit(size_t limit);
    ~AllocationLimit();
    AllocationLimit(const AllocationLimit&) = delete;
    AllocationLimit& operator=(const AllocationLimit&) = delete;
};

}  // namespace flashtest
