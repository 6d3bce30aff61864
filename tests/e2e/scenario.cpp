#include "scenario.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <regex>

namespace tzrtest {

namespace {

std::string LineStartingWith(const std::string& text, const std::string& prefix)
{
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.compare(0, prefix.size(), prefix) == 0)
            return line;
        pos = end + 1;
    }
    return std::string();
}

}  // namespace

std::string HostResult::PropertyLine(unsigned id) const
{
    return LineStartingWith(output, "[" + std::to_string(id) + "]");
}

std::string HostResult::InstallLine() const
{
    return LineStartingWith(output, "install ");
}

unsigned HostResult::State() const
{
    const std::string line = PropertyLine(5);
    const size_t at = line.find("  state ");  // "install state" is the column's name
    return at == std::string::npos ? 0u : static_cast<unsigned>(std::stoul(line.substr(at + 8)));
}

Scenario::Scenario(const std::string& name, const std::wstring& root) : m_folder(root + L"\\" + Widen(name))
{
    RemoveTree(m_folder);
    MakeDirs(m_folder);
    CopyIn(BuildFile(L"src\\plugin\\setup.dll"), L"setup.dll");
    ClearLogs();
    // Each scenario is a machine of its own: no firmware of an earlier one
    // waits for a restart here.
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\TZR\\NVMeBootController\\AwaitingRestart");
}

void Scenario::AddFile(const std::wstring& name, const std::string& bytes) const
{
    WriteFileBytes(PathOf(name), bytes);
}

void Scenario::CopyIn(const std::wstring& source, const std::wstring& asName) const
{
    CopyFileW(source.c_str(), PathOf(asName).c_str(), FALSE);
}

void Scenario::AddSimulator(const std::string& scenarioText) const
{
    CopyIn(BuildFile(L"tools\\mnv-sim\\mnv_sim.exe"), L"mnv_cli.exe");
    AddFile(L"mnv_sim.ini", scenarioText);
}

std::vector<std::string> Scenario::SimulatorCalls() const
{
    return SplitCrLf(ReadFileBytes(PathOf(L"mnv_sim.calls.log")));
}

HostResult Scenario::Host(const std::vector<std::wstring>& args,
                          const std::map<std::wstring, std::wstring>& env) const
{
    return HostFrom(BuildFile(L"tools\\host\\tzrhost.exe"), args, env);
}

HostResult Scenario::HostFrom(const std::wstring& hostExe, const std::vector<std::wstring>& args,
                              const std::map<std::wstring, std::wstring>& env) const
{
    std::wstring commandLine = QuoteArg(hostExe) + L" " + QuoteArg(m_folder);
    for (const std::wstring& arg : args)
        commandLine += L" " + QuoteArg(arg);
    ProcessResult run = RunProcess(commandLine, m_folder, env);
    if (!run.started) {
        // Seen once under Wine on a fresh prefix: a scenario's host came back
        // with no output at all. A start that fails is tried once more and
        // reported; a host that starts and fails is never retried.
        fprintf(stderr, "tzrhost did not start (error %lu); trying once more\n", run.startError);
        run = RunProcess(commandLine, m_folder, env);
    }
    HostResult result;
    result.exitCode = run.exitCode;
    result.output = run.output;
    result.started = run.started;
    // Every scenario expects the host to run; say so at once when it did not.
    EXPECT_TRUE(run.started) << "tzrhost did not start in " << Narrow(m_folder) << ": error " << run.startError;
    return result;
}

void Scenario::ClearLogs()
{
    for (const wchar_t* name : {L"tzrsetup.log", L"tzrsetup.verbose.log", L"Verbose.log"})
        DeleteFileW((LogFolder() + L"\\" + name).c_str());
}

std::string Package(const std::string& version, const std::string& altName)
{
    return "<tzr_package><version value=\"" + version + "\"/><alt_name><alt_name_xlate>" + altName +
           "</alt_name_xlate></alt_name></tzr_package>";
}

std::string Controller(int n, const std::string& sdid, const std::string& fw, const std::string& extra)
{
    const std::string k = std::to_string(n);
    return k + ".svid=0x1590\n" + k + ".sdid=" + sdid + "\n" + k + ".fw=" + fw + "\n" + extra;
}

std::vector<std::string> FlashCalls(const std::vector<std::string>& calls)
{
    std::vector<std::string> flashes;
    for (const std::string& c : calls)
        if (c.find(" flash ") != std::string::npos)
            flashes.push_back(c);
    return flashes;
}

std::vector<std::string> VerboseEntries(const std::string& source)
{
    std::vector<std::string> entries;
    static const std::regex header(R"(^\[\d{1,2}:\d{2}:\d{2}\]::(\w+)\[\d+\] (.*)$)");
    for (const std::string& line : SplitCrLf(Scenario::ComponentVerboseLog())) {
        std::smatch m;
        if (std::regex_match(line, m, header) && m[1] == source)
            entries.push_back(m[2]);
    }
    return entries;
}

size_t Count(const std::vector<std::string>& lines, const std::string& text)
{
    return static_cast<size_t>(std::count(lines.begin(), lines.end(), text));
}

}  // namespace tzrtest
