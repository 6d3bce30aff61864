// The engine's options, read from the host process's own command line.
#include "flash_engine.h"
#include "options.h"

#include "process_log.h"
#include "win_handle.h"

#include <shellapi.h>

#include <cstring>

namespace {

const int kMaxArguments = 32;
const size_t kSlotBytes = 1024;

// One byte slot per argument, cleared before each parse. Static: they are
// too large for comfort on the host's stack, and only one thread parses.
char g_slots[kMaxArguments][kSlotBytes];

int convertedBytes(UINT codePage, const wchar_t* text, int count)
{
    return WideCharToMultiByte(codePage, 0, text, count, nullptr, 0, nullptr, nullptr);
}

}  // namespace

size_t convertArgument(UINT codePage, const wchar_t* argument, char* slot, size_t slotSize)
{
    if (!slot || slotSize == 0)
        return 0;
    slot[0] = '\0';
    if (!argument)
        return 0;
    const int whole = convertedBytes(codePage, argument, -1);  // with the terminator
    if (whole > 0 && static_cast<size_t>(whole) <= slotSize) {
        const int n = WideCharToMultiByte(codePage, 0, argument, -1, slot, static_cast<int>(slotSize), nullptr,
                                          nullptr);
        if (n <= 0) {
            slot[0] = '\0';
            return 0;
        }
        return static_cast<size_t>(n - 1);
    }

    // Too long: take whole characters (a surrogate pair is one) while their
    // bytes and the terminator still fit.
    const size_t room = slotSize - 1;
    size_t bytes = 0;
    size_t chars = 0;
    const size_t length = wcslen(argument);
    while (chars < length) {
        size_t step = 1;
        if (argument[chars] >= 0xD800 && argument[chars] <= 0xDBFF && chars + 1 < length &&
            argument[chars + 1] >= 0xDC00 && argument[chars + 1] <= 0xDFFF)
            step = 2;
        const int n = convertedBytes(codePage, argument + chars, static_cast<int>(step));
        if (n <= 0 || bytes + static_cast<size_t>(n) > room)
            break;
        bytes += static_cast<size_t>(n);
        chars += step;
    }
    const int n = chars == 0 ? 0
                             : WideCharToMultiByte(codePage, 0, argument, static_cast<int>(chars), slot,
                                                   static_cast<int>(room), nullptr, nullptr);
    const size_t written = n > 0 ? static_cast<size_t>(n) : 0;
    slot[written] = '\0';
    return written;
}

int parseArguments(const wchar_t* commandLine)
{
    memset(g_slots, 0, sizeof g_slots);

    int count = 0;
    wchar_t** argv = commandLine ? CommandLineToArgvW(commandLine, &count) : nullptr;
    if (!argv) {
        LogPrint(kLogVerbose, "Command line argument retrieval error\r\n");
        return -1;
    }
    UniqueLocalMem arguments(reinterpret_cast<HLOCAL>(argv));
    if (count > kMaxArguments) {
        count = kMaxArguments;
        LogPrint(kLogVerbose, "Only 32 arguments supported. Extra arguments will be ignored\r\n");
    }

    for (int i = 0; i < count; ++i) {
        char* slot = g_slots[i];
        convertArgument(CP_ACP, argv[i], slot, kSlotBytes);
        LogPrint(kLogVerbose, "parseCommandLine parameter %d: %s\n", i, slot);
        const bool hasNext = i + 1 < count;

        // A value taken by "-d" or "-log_level" still has its own turn.
        switch (matchOption(slot)) {
        case kOptionDiscovery: {
            LogPrint(kLogVerbose, "discovery parameter received\n");
            forceFlag = 1;
            discoveryFlag = 1;
            LogPrint(kLogVerbose, "force flag -f set to %d\n", forceFlag);
            LogPrint(kLogVerbose, "self discovery flag -d set to %d\n", discoveryFlag);
            std::string path;
            if (hasNext) {
                convertArgument(CP_ACP, argv[i + 1], g_slots[i + 1], kSlotBytes);
                path = g_slots[i + 1];
            } else {
                path = defaultDiscoveryPath(findFirstFileContaining(".xml"));
            }
            LogPrint(kLogVerbose, "self discovery file %s\n", path.c_str());
            memset(discoveryFile, 0, sizeof discoveryFile);
            strncpy(discoveryFile, path.c_str(), sizeof discoveryFile - 1);
            break;
        }
        case kOptionForce:
            LogPrint(kLogVerbose, "force parameter received\n");
            forceFlag = 1;
            LogPrint(kLogVerbose, "force flag -f set to %d\n", forceFlag);
            break;
        case kOptionSilent:
            LogPrint(kLogVerbose, "silent parameter received\n");
            silentFlag = 1;
            LogPrint(kLogVerbose, "silent flag -s set to %d\n", silentFlag);
            break;
        case kOptionLogLevel:
            if (hasNext) {
                convertArgument(CP_ACP, argv[i + 1], g_slots[i + 1], kSlotBytes);
                const int level = parseDecimal(g_slots[i + 1]);
                LogSetVerboseLevel(level);
                LogPrint(kLogVerbose, "setting verbose log level to %d\n", level);
            }
            break;
        case kOptionRewrite:
            LogPrint(kLogVerbose, "rewrite parameter received\n");
            rewriteFlag = 1;
            LogPrint(kLogVerbose, "rewrite flag -e set to %d\n", rewriteFlag);
            break;
        case kOptionDowngrade:
            LogPrint(kLogVerbose, "downgrade parameter received\n");
            downgradeFlag = 1;
            LogPrint(kLogVerbose, "downgrade flag -g set to %d\n", downgradeFlag);
            break;
        case kOptionNone:
            break;
        }
    }
    return 0;
}

int parseCommandLine()
{
    return parseArguments(GetCommandLineW());
}
