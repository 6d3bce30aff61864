#include "options.h"

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
    if (!text)
        return 0;
    while (*text == ' ' || *text == '\t' || *text == '\n' || *text == '\v' || *text == '\f' || *text == '\r')
        ++text;
    bool negative = false;
    if (*text == '+' || *text == '-')
        negative = *text++ == '-';
    long long value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + (*text - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            value = static_cast<long long>(INT_MAX) + 1;  // held, not overflowed
    }
    if (negative)
        return static_cast<int>(-value);
    return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

std::string defaultDiscoveryPath(const std::string& firstXmlName)
{
    const std::string stem =
        firstXmlName.size() >= 4 ? firstXmlName.substr(0, firstXmlName.size() - 4) : std::string();
    return "\\tzrsystem\\log\\" + stem + "_disc.xml";
}
