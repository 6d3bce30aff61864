// Benchmark of the engine against the bare cost of the vendor tool's
// processes, in two measurements for N simulated controllers:
//
//   query    the install-state query: tzrhost --property 5 minus
//            tzrhost --property 6 (same host, same DLL load, no engine).
//            It starts N + 1 tool processes (the count, one information
//            query each).
//   session  the host's whole session: load, every property, Install with
//            every controller an upgrade, which takes the inventory again
//            (N + 1 processes: what it writes is decided on the machine as it
//            is then) and flashes (N more). Its engine share is the session
//            minus tzrhost --property 6.
//
// The floor of each is the tool command lines the run recorded, started
// again bare the same way (runCommand: CreateProcess with a pipe, output
// read, waited for) from the package folder; each line prints engine time /
// floor. Medians over the repetitions, taken interleaved so drift in the
// machine's load hits every figure alike.
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

// A package folder with the plug-in, the simulator as the vendor tool and
// N controllers of supported models at firmware 1.0.n. A full package also
// carries a package definition (version 9.0) and an image, so every
// controller is an upgrade and Install flashes it.
std::wstring MakePackage(const wchar_t* kind, int controllers, bool full)
{
    static const char* const kIds[] = {"0x2f6", "0x30e", "0x310", "0x30f", "0x379", "0x380"};
    const std::wstring folder = L"C:\\tzr-bench\\" + std::wstring(kind) + std::to_wstring(controllers);
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
    if (full) {
        WriteFileBytes(folder + L"\\kxbench.xml", "<tzr_package><name><name_xlate lang=\"en\">Bench firmware"
                                                  "</name_xlate></name><version value=\"9.0\"/></tzr_package>");
        WriteFileBytes(folder + L"\\fw.bin", std::string(64 * 1024, '\x5a'));
    }
    return folder;
}

void ClearLogs()
{
    for (const wchar_t* name : {L"tzrsetup.log", L"tzrsetup.verbose.log", L"Verbose.log"})
        DeleteFileW((std::wstring(L"C:\\tzrsystem\\log\\") + name).c_str());
}

std::wstring CallsLog(const std::wstring& folder)
{
    return folder + L"\\mnv_sim.calls.log";
}

// Runs tzrhost on the package with the given host options; its report goes
// to *report when asked for.
double TimeHost(const std::wstring& folder, const std::wstring& options, std::string* report)
{
    ClearLogs();
    DeleteFileW(CallsLog(folder).c_str());
    // Every run finds the firmware unwritten: the last one's write would
    // otherwise wait for a restart, and nothing would be flashed again.
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\TZR\\NVMeBootController\\AwaitingRestart");
    const std::wstring line = QuoteArg(BuildFile(L"tools\\host\\tzrhost.exe")) + L" " + QuoteArg(folder) + L" " + options;
    const double start = Now();
    const ProcessResult r = RunProcess(line, folder);
    const double elapsed = Now() - start;
    if (report)
        *report = r.output;
    return elapsed;
}

// Starts the recorded tool command lines again, bare, from the package folder.
double TimeFloor(const std::wstring& folder, const std::vector<std::string>& calls)
{
    DeleteFileW(CallsLog(folder).c_str());
    wchar_t home[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, home);
    SetCurrentDirectoryW(folder.c_str());
    const double start = Now();
    for (const std::string& command : calls) {
        std::string output;
        runCommand(command.c_str(), output);
    }
    const double elapsed = Now() - start;
    SetCurrentDirectoryW(home);
    return elapsed;
}

struct Measurement {
    const wchar_t* kind;
    const wchar_t* options;  // the host options of the measured run
    bool full;               // package definition and image present
    const char* expected;    // in the host's report, or the run is wrong
};

// One table line: the measured run, the host alone and the floor. False when
// the run did not answer as expected.
bool Measure(const Measurement& m, int controllers, int repetitions)
{
    const std::wstring folder = MakePackage(m.kind, controllers, m.full);
    std::string report;
    TimeHost(folder, m.options, &report);  // warm-up: file cache, Wine's DLL loading
    std::vector<std::string> calls = SplitCrLf(ReadFileBytes(CallsLog(folder)));
    if (!calls.empty() && calls.back().empty())
        calls.pop_back();
    const bool ok = report.find(m.expected) != std::string::npos;
    if (!ok)
        printf("N=%d: unexpected answer:\n%s\n", controllers, report.c_str());

    std::vector<double> run, host, floor;
    for (int i = 0; i < repetitions; ++i) {
        run.push_back(TimeHost(folder, m.options, nullptr));
        host.push_back(TimeHost(folder, L"--property 6", nullptr));
        floor.push_back(TimeFloor(folder, calls));
    }
    const double engine = Median(run) - Median(host);
    const double f = Median(floor);
    printf("%-8ls %4d %6zu %10.3f %10.3f %10.3f %10.3f %14.3f\n", m.kind, controllers, calls.size(), Median(run),
           Median(host), engine, f, engine / f);
    fflush(stdout);
    return ok;
}

}  // namespace

int main(int argc, char** argv)
{
    const int repetitions = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    MakeDirs(L"C:\\tzrsystem\\log");

    // A package without its image is not offered, so both carry one.
    const Measurement query = {L"query", L"--property 5", true, "state 2 "};
    const Measurement session = {L"session", L"--install", true, "Installation completed successfully."};
    printf("engine time vs. the same tool processes started bare (median of %d, seconds)\n", repetitions);
    printf("%-8s %4s %6s %10s %10s %10s %10s %14s\n", "run", "N", "tools", "host run", "host p6", "engine", "floor",
           "engine/floor");
    bool ok = true;
    for (int controllers : {1, 8, 32})
        ok = Measure(query, controllers, repetitions) && ok;
    for (int controllers : {1, 8})
        ok = Measure(session, controllers, repetitions) && ok;
    printf("goal: engine/floor <= 1.10 at N = 8\n");
    return ok ? 0 : 1;
}
