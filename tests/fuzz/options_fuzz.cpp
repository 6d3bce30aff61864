// libFuzzer harness for the engine's option matching, its decimal reader
// and the discovery report's default name. The input is a list of arguments
// separated by NUL bytes, as the command-line splitter hands them over.
#include "options.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    size_t start = 0;
    while (start <= input.size()) {
        size_t end = input.find('\0', start);
        if (end == std::string::npos) end = input.size();
        const std::string argument = input.substr(start, end - start);

        const EngineOption option = matchOption(argument.c_str());
        // Only arguments that start like an option can be one.
        if (option != kOptionNone && argument[0] != '-' && argument[0] != '/') std::abort();
        parseDecimal(argument.c_str());

        const std::string path = defaultDiscoveryPath(argument);
        const std::string head = "\\tzrsystem\\log\\";
        const std::string tail = "_disc.xml";
        if (path.compare(0, head.size(), head) != 0) std::abort();
        if (path.size() < head.size() + tail.size() ||
            path.compare(path.size() - tail.size(), tail.size(), tail) != 0)
            std::abort();
        start = end + 1;
    }
    return 0;
}
