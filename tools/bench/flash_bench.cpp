// Benchmark of the install-state query: what the engine adds to the bare
// cost of the vendor tool's processes.
//
// For N simulated controllers the query starts N + 1 tool processes (the
// count and one information query each). Measured in one run, with the
// package folder as current directory:
//   query  tzrhost --property 5 minus tzrhost --property 6 (same host, same
//          DLL load, no engine): the install-state query's own time
//   floor  N + 1 bare spawns of the same simulator, started the same way
//          (runCommand: CreateProcess with a pipe, output read, waited for)
// and prints query / floor. Medians over the repetitions, taken interleaved
// so drift in the machine's load hits every figure alike.
//
// usage: flash_bench.exe [repetitions] (TZR_BUILD_DIR names the build folder)
#include "run_command.h"
#include "test_support.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace tzrtest;

namespace {

double Now()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::wstring MakePackage(int controllers)
{
    static const char* const kIds[] = {"0x2f6", "0x30e", "0x310", "0x30f", "0x379", "0x380"};
    const std::wstring folder = L"C:\\tzr-bench\\n" + std::to_wstring(controllers);
    RemoveTree(folder);
    MakeDirs(folder);
    CopyFileW(BuildFile(L"src\\plugin\\setup.dll").c_str(), (folder + L"\\setup.dll").c_str(), FALSE);
    CopyFileW(BuildFile(L"tools\\mnv-sim\\mnv_sim.exe").c_str(), (folder + L"\\mnv_cli.exe").c_str(), FALSE);
    std::string scenario;
    for (int n = 1; n <= controllers; ++n) {
        const std::string key = std::to_string(n);
        scenario += key + ".svid=0x1590\n" + key + ".sdid=" + kIds[(n - 1) % 6] + "\n" + key + ".fw=1.0." +
                    std::to_string(n) + "\n";
    }
    WriteFileBytes(folder + L"\\mnv_sim.ini", scenario);
    return folder;
}

void ClearLogs()
{
    for (const wchar_t* name : {L"tzrsetup.log", L"tzrsetup.verbose.log", L"Verbose.log"})
        DeleteFileW((std::wstring(L"C:\\tzrsystem\\log\\") + name).c_str());
}

double TimeHost(const std::wstring& folder, const wchar_t* property, std::string* report)
{
    ClearLogs();
    DeleteFileW((folder + L"\\mnv_sim.calls.log").c_str());
    const std::wstring line = QuoteArg(BuildFile(L"tools\\host\\tzrhost.exe")) + L" " + QuoteArg(folder) +
                              L" --property " + property;
    const double start = Now();
    const ProcessResult r = RunProcess(line, folder);
    const double elapsed = Now() - start;
    if (report)
        *report = r.output;
    return elapsed;
}

double TimeFloor(const std::wstring& folder, int controllers)
{
    DeleteFileW((folder + L"\\mnv_sim.calls.log").c_str());
    SetCurrentDirectoryW(folder.c_str());
    const double start = Now();
    std::string output;
    runCommand("mnv_cli.exe adapter --list", output);
    for (int n = 1; n <= controllers; ++n) {
        output.clear();
        const std::string command = "mnv_cli.exe " + std::to_string(n) + " info -o hba";
        runCommand(command.c_str(), output);
    }
    return Now() - start;
}

}  // namespace

int main(int argc, char** argv)
{
    const int repetitions = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    wchar_t home[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, home);
    MakeDirs(L"C:\\tzrsystem\\log");

    printf("install-state query vs. N + 1 bare tool spawns (median of %d, seconds)\n", repetitions);
    printf("%4s %10s %10s %10s %10s %12s %12s\n", "N", "host p5", "host p6", "query", "floor", "query/floor",
           "host/floor");
    bool ok = true;
    for (int controllers : {1, 8, 32}) {
        const std::wstring folder = MakePackage(controllers);
        std::string report;
        TimeHost(folder, L"5", &report);  // warm-up: file cache, Wine's DLL loading
        if (report.find("state 3 ") == std::string::npos) {
            printf("N=%d: unexpected answer:\n%s\n", controllers, report.c_str());
            ok = false;
        }
        std::vector<double> p5, p6, floor;
        for (int i = 0; i < repetitions; ++i) {
            p5.push_back(TimeHost(folder, L"5", nullptr));
            p6.push_back(TimeHost(folder, L"6", nullptr));
            floor.push_back(TimeFloor(folder, controllers));
            SetCurrentDirectoryW(home);
        }
        const double q = Median(p5) - Median(p6);
        const double f = Median(floor);
        printf("%4d %10.3f %10.3f %10.3f %10.3f %12.3f %12.3f\n", controllers, Median(p5), Median(p6), q, f, q / f,
               Median(p5) / f);
        fflush(stdout);
    }
    printf("goal: query/floor <= 1.10 at N = 8\n");
    return ok ? 0 : 1;
}
