// Runs one command line hidden and captures everything it prints. The flash
// engine learns about the controllers, and flashes them, only through the
// vendor tool's output, so this is the one place that starts such a process.
#pragma once

#include <string>

// Runs command (the whole command line, at most 1023 bytes, ANSI) with the
// caller's environment and current directory. Standard output and standard
// error share one pipe, so their texts arrive interleaved as the child wrote
// them; every byte is appended to output. The exit code is not looked at.
//
// Returns 0 when the process ran and its output was read to the end, -1 when
// it could not be started or its output could not be kept (each failure is
// one process-log line). Never throws.
int runCommand(const char* command, std::string& output);

// The same, starting the program application (a full path) rather than the
// one Windows' search finds for the command line's first word; the command
// line, the program's argument 0 included, stays as given. A null
// application is the search.
int runCommand(const wchar_t* application, const char* command, std::string& output);
