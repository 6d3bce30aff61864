// One end-to-end scenario: a fresh package folder on drive C: with the built
// setup.dll, cleared log files, and tzrhost.exe run on it as a fresh process.
#pragma once

#include "test_support.h"

#include <string>
#include <vector>

namespace tzrtest {

struct HostResult {
    DWORD exitCode = 0;
    std::string output;  // tzrhost's report, UTF-8
    bool started = false;

    // The report line of property id ("[5] install state ..."), empty if none.
    std::string PropertyLine(unsigned id) const;
    // The report's install line ("install   result ..."), empty if none.
    std::string InstallLine() const;
    // The install-state code of property 5 ("state N"), 0 when not reported.
    unsigned State() const;
};

class Scenario {
public:
    // name: a folder name unique to the scenario, under root.
    explicit Scenario(const std::string& name, const std::wstring& root = L"C:\\tzr-e2e");

    const std::wstring& Folder() const { return m_folder; }
    std::wstring PathOf(const std::wstring& name) const { return m_folder + L"\\" + name; }
    void AddFile(const std::wstring& name, const std::string& bytes) const;
    void CopyIn(const std::wstring& source, const std::wstring& asName) const;
    // Puts the simulated vendor tool in the folder as mnv_cli.exe, with the
    // scenario text as its mnv_sim.ini.
    void AddSimulator(const std::string& scenarioText) const;
    // The command lines the simulator was started with, in order.
    std::vector<std::string> SimulatorCalls() const;

    // Runs tzrhost.exe <folder> args... with the package folder as current
    // directory. env is set for the host process only.
    HostResult Host(const std::vector<std::wstring>& args,
                    const std::map<std::wstring, std::wstring>& env = {}) const;
    // The same with the host program at hostExe (a copy of tzrhost.exe in a
    // folder of the test's choosing).
    HostResult HostFrom(const std::wstring& hostExe, const std::vector<std::wstring>& args,
                        const std::map<std::wstring, std::wstring>& env = {}) const;

    static std::wstring LogFolder() { return L"C:\\tzrsystem\\log"; }
    static std::string ComponentLog() { return ReadFileBytes(LogFolder() + L"\\tzrsetup.log"); }
    static std::string ComponentVerboseLog() { return ReadFileBytes(LogFolder() + L"\\tzrsetup.verbose.log"); }
    static std::string ProcessLog() { return ReadFileBytes(LogFolder() + L"\\Verbose.log"); }
    static void ClearLogs();

private:
    std::wstring m_folder;
};

// A firmware package definition of the given version.
std::string Package(const std::string& version, const std::string& altName = "Veyra Boot FW");
// The simulator's scenario lines of controller n.
std::string Controller(int n, const std::string& sdid, const std::string& fw, const std::string& extra = "");
// The flash commands among the simulator's calls.
std::vector<std::string> FlashCalls(const std::vector<std::string>& calls);

// The texts of the component verbose log's entries of one source, without
// their "[time]::source[line] " header.
std::vector<std::string> VerboseEntries(const std::string& source);
// How many of the lines are exactly text.
size_t Count(const std::vector<std::string>& lines, const std::string& text);

}  // namespace tzrtest
