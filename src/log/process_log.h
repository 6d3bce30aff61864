// The process log: free functions over process-wide state for code that is
// not a component class (the flash engine, the command runner, the exports).
// Each call opens, appends and closes, so the file survives a crash up to the
// last completed call.
#pragma once

#include "printf_format.h"

class CCmpLog2;

// Flag bits of LogPrint; they may be combined.
enum LogFlag : int {
    kLogComponentMain = 0x01,     // the attached component log's main file
    kLogVerbose = 0x02,           // the process verbose file
    kLogAll = 0x08,               // 0x01 | 0x02 | 0x80
    kLogNamedFile = 0x10,         // the file named by LogSetFileName
    kLogVerboseLevel1 = 0x20,     // the verbose file, only at verbose level 1
    kLogNoTimeStamp = 0x40,       // no UTC stamp in front of the text
    kLogComponentVerbose = 0x80,  // the attached component log's verbose file
};

// What one line of the process files may hold, its line end included: a
// longer text is cut to 4095 bytes, the last of them a line end.
constexpr int kLogLineBytes = 4096;

void LogPrint(int flags, const char* format, ...) TZR_PRINTF_FORMAT(2, 3);
void LogSetComponentLog(CCmpLog2* log);
void LogSetVerboseLevel(int level);
int LogGetVerboseLevel();
// Copies at most 511 bytes of path; a longer path is cut.
void LogSetFileName(const char* path);
const char* LogGetFileName();
const char* LogDateString();

// The verbose file's path: from the root of the current drive.
const char* LogVerboseFilePath();
