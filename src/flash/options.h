// The engine's command-line options, matched as whole arguments. Pure: the
// retrieval of the command line stays in the Win32 wrapper
// (parseCommandLine).
#pragma once

#include <string>

enum EngineOption {
    kOptionNone,
    kOptionDiscovery,  // -d [path]
    kOptionForce,      // -f, -force
    kOptionSilent,     // -s, -silent
    kOptionLogLevel,   // -log_level number
    kOptionRewrite,    // -e
    kOptionDowngrade,  // -g
};

// The option an argument names: "-" and "/" prefixes alike, the rest byte
// for byte and case-sensitive, the whole argument.
EngineOption matchOption(const char* argument);

// Leading blanks skipped, an optional sign, digits up to the first other
// character; 0 when there are none. Held to the range of int.
int parseDecimal(const char* text);

// "\tzrsystem\log\" + the name without its last four characters + "_disc.xml";
// an empty name gives "\tzrsystem\log\_disc.xml".
std::string defaultDiscoveryPath(const std::string& firstXmlName);
