// The installer component's own log: a main file with the user-facing record
// and an optional verbose file whose entries carry time and source position.
// Both live in %systemdrive%\tzrsystem\log\, are written in the ANSI code page
// and are only ever appended to.
#pragma once

#include "log_append.h"
#include "text_util.h"
#include "win_handle.h"

#include <cstdarg>
#include <string>

class CCmpLog2 {
public:
    static constexpr unsigned kOpenFailed = 103;
    static constexpr size_t kPathChars = 260;
    // The most bytes one write puts in a file, as for the process log's
    // lines: a longer text is cut and keeps its line end.
    static constexpr size_t kLineBytes = 4095;

    // Modes of Write: which files get the entry and whether the verbose file
    // gets the header.
    enum Mode : unsigned {
        kMainOnly = 0,
        kVerboseHeader = 1,
        kVerboseContinue = 2,
        kBothHeader = 3,
        kBothContinue = 4,
    };
    // Types of Write: the severity marker.
    enum Type : int { kPlain = 0, kWarning = 1, kError = 2, kCritical = 3 };

    struct LogFile {
        UniqueHandle hFile;
        wchar_t szPath[kPathChars] = L"";
        AppendLock lock;
        // An entry's start that waits for the rest of its line ("... "
        // waits for "Done."), so that the whole line is one write.
        std::wstring sPending;
    };

    CCmpLog2();
    virtual ~CCmpLog2();
    CCmpLog2(const CCmpLog2&) = delete;
    CCmpLog2& operator=(const CCmpLog2&) = delete;

    virtual BOOL SetVerboseFileName(const wchar_t* name);
    virtual void EnableVerbose();
    virtual int IsVerbose();
    virtual unsigned Open();
    virtual void Close();
    // Formats with the C99 wide conventions: "%ls" for wide texts.
    virtual void Write(unsigned mode, int type, const wchar_t* source, int line, const wchar_t* format, ...);

    void WriteV(unsigned mode, int type, const wchar_t* source, int line, const wchar_t* format, va_list args);
    // Writes text as the message itself, not as a format.
    void WriteText(unsigned mode, int type, const wchar_t* source, int line, const wchar_t* text);

    const wchar_t* Folder() const { return m_szFolder; }
    const wchar_t* MainPath() const { return m_Main.szPath; }
    const wchar_t* VerbosePath() const { return m_Verbose.szPath; }
    bool IsMainOpen() const { return m_Main.hFile.valid(); }
    bool IsVerboseOpen() const { return m_Verbose.hFile.valid(); }

private:
    void WriteEntry(unsigned mode, int type, const wchar_t* source, int line, const wchar_t* message);

    int m_bVerbose = 0;
    wchar_t m_szFolder[kPathChars] = L"";
    LogFile m_Main;
    LogFile m_Verbose;
};

