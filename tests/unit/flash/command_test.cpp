// The command runner on real child processes: the simulated vendor tool and
// cmd.exe.
#include "flash_engine.h"
#include "flash_test_util.h"
#include "run_command.h"
#include "win_handle.h"

#include <gtest/gtest.h>

using namespace flashtest;

namespace {

// Every byte value, in an order that shows any reordering or repetition.
std::string Pattern(size_t size)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
    return bytes;
}

TEST(RunCommand, CapturesEveryByteInOrder)
{
    const struct {
        const char* name;
        size_t size;
        const char* extra;  // scenario lines besides list_file
    } cases[] = {
        {"nothing", 0, ""},
        {"ten_thousand", 10000, ""},
        {"on_stderr", 10000, "stream=stderr\n"},
        {"exit_code_1", 100, "exit_code=1\n"},
        {"large", 300000, ""},
    };
    for (const auto& c : cases) {
        ToolFolder tool(std::string("run_") + c.name, std::string("list_file=answer.bin\n") + c.extra);
        const std::string expected = Pattern(c.size);
        tool.AddFile(L"answer.bin", expected);
        std::string output = "kept|";
        EXPECT_EQ(0, runCommand("mnv_cli.exe adapter --list", output)) << c.name;
        EXPECT_EQ(5 + c.size, output.size()) << c.name;
        EXPECT_TRUE(output == "kept|" + expected) << c.name;
        EXPECT_EQ(std::vector<std::string>{"mnv_cli.exe adapter --list"}, tool.Calls()) << c.name;
    }
}

TEST(RunCommand, ShortLineAfterLongOneIsNotPaddedWithTheOldChunk)
{
    ToolFolder tool("run_short_after_long", "list_file=answer.bin\n");
    const std::string expected = std::string(4096 * 2 + 100, 'L') + "\r\nshort\r\n";
    tool.AddFile(L"answer.bin", expected);
    std::string output;
    ASSERT_EQ(0, runCommand("mnv_cli.exe adapter --list", output));
    EXPECT_TRUE(output == expected);
}

TEST(RunCommand, StandardOutputAndErrorShareThePipe)
{
    ToolFolder tool("run_cmd_both", "");
    std::string output;
    ASSERT_EQ(0, runCommand("cmd.exe /c echo out& echo err 1>&2& exit 1", output));
    EXPECT_NE(std::string::npos, output.find("out")) << output;
    EXPECT_NE(std::string::npos, output.find("err")) << output;
    EXPECT_LT(output.find("out"), output.find("err")) << output;
}

TEST(RunCommand, MissingProgramFailsAndSaysSo)
{
    ToolFolder tool("run_missing", "", false);
    const LogTail log;
    std::string output = "unchanged";
    RunStatus status = kRunOk;
    EXPECT_EQ(-1, runCommand("mnv_cli.exe adapter --list", output, &status));
    EXPECT_EQ(kRunNotStarted, status);
    EXPECT_EQ(-1, runTool("mnv_cli.exe adapter --list", output));
    EXPECT_EQ("unchanged", output);
    EXPECT_EQ(std::vector<std::string>{"cannot create process."}, log.Lines());
}

TEST(RunCommand, CommandTooLongForItsBufferIsRefused)
{
    ToolFolder tool("run_too_long", "");
    const LogTail log;
    const std::string command = "mnv_cli.exe " + std::string(1100, 'a');
    std::string output;
    EXPECT_EQ(-1, runTool(command.c_str(), output));
    EXPECT_EQ((std::vector<std::string>{tool.ToolLine(), "cannot convert command."}), log.Lines());
    EXPECT_TRUE(tool.Calls().empty());
}

TEST(RunCommand, OutputThatCannotBeKeptFailsWithoutBlockingTheChild)
{
    ToolFolder tool("run_no_memory", "padding=400000\n");
    const LogTail log;
    std::string output = "before";
    int result = 0;
    {
        const AllocationLimit limit(64 * 1024);
        result = runTool("mnv_cli.exe adapter --list", output);
    }
    EXPECT_EQ(-1, result);
    EXPECT_EQ("before", output);
    EXPECT_EQ((std::vector<std::string>{tool.ToolLine(), "cannot keep the output of command: mnv_cli.exe adapter --list"}),
              log.Lines());
    // The same child runs whole when memory allows.
    std::string whole;
    EXPECT_EQ(0, runCommand("mnv_cli.exe adapter --list", whole));
    EXPECT_GT(whole.size(), 400000u);
}

}  // namespace

namespace {

// The simulated tool's flash outcomes, which the flashing step relies on.
TEST(SimulatedTool, FlashOutcomesAndTheFirmwareTheyLeave)
{
    const struct {
        const char* outcome;
        const char* printed;  // a text the output must hold
        bool updated;         // the next inventory sees the image's version
    } cases[] = {
        {"success", "Flash NVMe Controller firmware success", true},
        {"upper", "FLASH NVME CONTROLLER FIRMWARE SUCCESS", true},
        {"long", "Flash NVMe Controller firmware success", true},
        {"stderr", "Flash NVMe Controller firmware success", true},
        {"fail", "disk on fire", false},
        {"crash", "Flashing controller 1 with image fw.bin", false},
    };
    for (const auto& c : cases) {
        ToolFolder tool(std::string("sim_flash_") + c.outcome,
                        std::string("image_version=2.0\n1.sdid=0x2f6\n1.fw=1.0\n1.flash_text=disk on fire\n1.flash=") +
                            c.outcome + "\n");
        tool.AddFile(L"fw.bin", "image");
        std::string flashed;
        ASSERT_EQ(0, runCommand("mnv_cli.exe 1 flash -o hba -f fw.bin -c 1 -s 1", flashed)) << c.outcome;
        EXPECT_NE(std::string::npos, flashed.find(c.printed)) << c.outcome << ": " << flashed.substr(0, 200);
        if (std::string(c.outcome) == "long") {
            EXPECT_GT(flashed.size(), 100000u);
        }
        std::string info;
        ASSERT_EQ(0, runCommand("mnv_cli.exe 1 info -o hba", info));
        EXPECT_NE(std::string::npos, info.find(c.updated ? "Firmware Version: 2.0\r\n" : "Firmware Version: 1.0\r\n"))
            << c.outcome << ": " << info;
        EXPECT_EQ((std::vector<std::string>{"mnv_cli.exe 1 flash -o hba -f fw.bin -c 1 -s 1",
                                            "mnv_cli.exe 1 info -o hba"}),
                  tool.Calls())
            << c.outcome;
    }
}

// Two packages' copies of the tool on one machine whose flashes wait for a
// restart; deleting the tool's boot mark is the restart.
TEST(SimulatedTool, SharedMachineTakesFlashesAtRestart)
{
    const ToolFolder machine("sim_machine", "", false);
    machine.AddFile(L"mnv_sim.ini", "restart_effect=1\n1.sdid=0x2f6\n1.fw=1.0\n");
    const std::string here = "machine=" + tzrtest::Narrow(machine.PathOf(L"")) + "\n";
    const ToolFolder a("a", here + "image_version=2.0\n");
    a.AddFile(L"fw_\x4e2d.bin", "image");
    const ToolFolder b("b", here + "image_version=3.0\n");
    b.AddFile(L"fw.bin", "image");
    const auto restart = [&machine] {
        HKEY key = nullptr;
        LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\TZR-Simulator\\Boot", 0,
                                       KEY_SET_VALUE | KEY_WOW64_64KEY, &key);
        if (status == ERROR_SUCCESS) {
            status = RegDeleteValueW(key, machine.PathOf(L"mnv_sim.ini").c_str());
            RegCloseKey(key);
        }
        return status;
    };
    const struct {
        const ToolFolder& package;
        const wchar_t* args;
        bool restartFirst;
        DWORD exitCode;
        const char* printed;
    } steps[] = {
        {a, L"1 flash -o hba -f missing.bin -c 1 -s 1", false, 1,
         "Flash NVMe Controller firmware failed: cannot open image missing.bin (error 2)\r\n"},
        {a, L"1 flash -o hba -f fw_\x4e2d.bin -c 1 -s 1", false, 0, "Flash NVMe Controller firmware success\r\n"},
        {b, L"1 info -o hba", false, 0, "Firmware Version: 1.0\r\n"},
        {b, L"1 flash -o hba -f fw.bin -c 1 -s 1", false, 0, "Flash NVMe Controller firmware success\r\n"},
        {a, L"1 info -o hba", false, 0, "Firmware Version: 1.0\r\n"},
        {a, L"1 info -o hba", true, 0, "Firmware Version: 3.0\r\n"},
        {b, L"1 info -o hba", false, 0, "Firmware Version: 3.0\r\n"},
    };
    for (const auto& step : steps) {
        const std::string name = tzrtest::Narrow(step.args) + (step.restartFirst ? " after a restart" : "");
        if (step.restartFirst) {
            ASSERT_EQ(ERROR_SUCCESS, restart()) << name;
        }
        const tzrtest::ProcessResult r =
            tzrtest::RunProcess(step.package.PathOf(L"mnv_cli.exe") + L" " + step.args, step.package.PathOf(L""));
        ASSERT_TRUE(r.started) << name;
        EXPECT_EQ(step.exitCode, r.exitCode) << name;
        EXPECT_NE(std::string::npos, r.output.find(step.printed)) << name << ": " << r.output;
    }
    // The two writes are recorded on the machine; the image never opened wrote nothing.
    WIN32_FIND_DATAW found;
    UniqueFindHandle records(FindFirstFileW(machine.PathOf(L"mnv_sim.flash.*.log").c_str(), &found));
    int count = records ? 1 : 0;
    while (records && FindNextFileW(records.get(), &found))
        ++count;
    EXPECT_EQ(2, count);
    EXPECT_EQ(4u, a.Calls().size());  // each package keeps its own calls
    EXPECT_EQ(ERROR_SUCCESS, restart());
}

TEST(SimulatedTool, UnknownCommandsAndControllersAreRefused)
{
    ToolFolder tool("sim_refuses", "1.sdid=0x2f6\n");
    const struct {
        const char* command;
        const char* printed;
    } cases[] = {
        {"mnv_cli.exe adapter list", "mnv_cli: unknown command"},
        {"mnv_cli.exe 1 info", "mnv_cli: unknown command"},
        {"mnv_cli.exe 2 info -o hba", "Error: controller 2 not found"},
        {"mnv_cli.exe 1 flash -o hba -f fw.bin -c 2 -s 1", "mnv_cli: unknown command"},
    };
    for (const auto& c : cases) {
        std::string output;
        ASSERT_EQ(0, runCommand(c.command, output)) << c.command;
        EXPECT_EQ(std::string(c.printed) + "\r\n", output) << c.command;
    }
}

}  // namespace
