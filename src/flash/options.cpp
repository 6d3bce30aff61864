#include "options.h"

#include "text_util.h"

#include <climits>
#include <cstring>

EngineOption matchOption(const char* argument)
{
    if (!argument || (argument[0] != '-' && argument[0] != '/'))
        return kOptionNone;
    const char* name = argument + 1;
    struct Entry {
        const char* name;
        EngineOption option;
    };
    static const Entry kTable[] = {
        {"d", kOptionDiscovery}, {"f", kOptionForce},         {"force", kOptionForce},
        {"s", kOptionSilent},    {"silent", kOptionSilent},   {"log_level", kOptionLogLevel},
        {"e", kOptionRewrite},   {"g", kOptionDowngrade},
    };
    for (const Entry& entry : kTable)
        if (strcmp(name, entry.name) == 0)
            return entry.option;
    return kOptionNone;
}

int parseDecimal(const char* text)
{
    return ReadDecimalInt(text);
}

std::string defaultDiscoveryPath(const std::string& firstXmlName)
{
    const std::string stem =
        firstXmlName.size() >= 4 ? firstXmlName.substr(0, firstXmlName.size() - 4) : std::string();
    return "\\tzrsystem\\log\\" + stem + "_disc.xml";
}
