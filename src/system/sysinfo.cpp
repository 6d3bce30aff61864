#include "sysinfo.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <fcntl.h>
#include <io.h>

namespace {

// Binds one of the C runtime's standard streams (stdout, stdin or stderr) to
// a Windows standard handle, unbuffered. Descriptor-level rebinding keeps the
// stream object itself, so code holding stdout sees the console too.
void RebindStream(DWORD stdHandle, const char* mode, FILE* target, const char* device)
{
    HANDLE h = GetStdHandle(stdHandle);
    bool bound = false;
    if (h != nullptr && h != INVALID_HANDLE_VALUE) {
        const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_TEXT);
        if (fd != -1) {
            bound = _dup2(fd, _fileno(target)) == 0;
            _close(fd);
        }
    }
    if (!bound)
        bound = freopen(device, mode, target) != nullptr;
    if (bound)
        setvbuf(target, nullptr, _IONBF, 0);
}

// Asked for at attach, made at the first note.
LONG g_nConsoleWanted = 0;

void MakeConsole()
{
    AllocConsole();
    CONSOLE_SCREEN_BUFFER_INFO info;
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (GetConsoleScreenBufferInfo(out, &info)) {
        COORD size = info.dwSize;
        size.Y = 500;
        SetConsoleScreenBufferSize(out, size);
    }
    RebindStream(STD_OUTPUT_HANDLE, "w", stdout, "CONOUT$");
    RebindStream(STD_INPUT_HANDLE, "r", stdin, "CONIN$");
    RebindStream(STD_ERROR_HANDLE, "w", stderr, "CONOUT$");
}

}  // namespace

void WantConsoleOutput()
{
    InterlockedExchange(&g_nConsoleWanted, 1);
}

void PrintNote(const char* format, ...)
{
    if (InterlockedExchange(&g_nConsoleWanted, 0))
        MakeConsole();
    va_list args;
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
    fflush(stdout);
}

void CreateDirectoryPath(const wchar_t* path)
{
    if (!path || !*path)
        return;
    wchar_t drive[_MAX_DRIVE] = L"";
    wchar_t dir[MAX_PATH] = L"";
    // _wsplitpath_s refuses parts longer than their buffers; such a path gets
    // no directory created rather than a cut one.
    if (_wsplitpath_s(path, drive, _MAX_DRIVE, dir, MAX_PATH, nullptr, 0, nullptr, 0) != 0)
        return;

    wchar_t running[MAX_PATH];
    _snwprintf(running, MAX_PATH, L"%ls", drive);
    running[MAX_PATH - 1] = L'\0';

    const wchar_t* p = dir;
    while (*p) {
        while (*p == L'\\' || *p == L'/')
            ++p;
        const wchar_t* end = p;
        while (*end && *end != L'\\' && *end != L'/')
            ++end;
        if (end == p)
            break;
        // "%s\%s": the running path, a backslash, the component; cut at 259.
        wchar_t next[MAX_PATH];
        _snwprintf(next, MAX_PATH, L"%ls\\%.*ls", running, static_cast<int>(end - p), p);
        next[MAX_PATH - 1] = L'\0';
        wcscpy(running, next);
        CreateDirectoryW(running, nullptr);
        p = end;
    }
}

int GetTimeString(wchar_t* buffer, size_t capacity)
{
    if (!buffer || capacity == 0)
        return 0;
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t scratch[256] = L"";
    GetTimeFormatW(LOCALE_SYSTEM_DEFAULT, TIME_NOTIMEMARKER | TIME_FORCE24HOURFORMAT, &now, nullptr,
                   scratch, 256);
    const int written = _snwprintf(buffer, capacity, L"%ls", scratch);
    if (written < 0 || static_cast<size_t>(written) >= capacity) {
        buffer[capacity - 1] = L'\0';
        return static_cast<int>(capacity - 1);
    }
    return written;
}

int FindTextNoCase(const wchar_t* text, const wchar_t* pattern)
{
    if (!text || !pattern)
        return -1;
    const size_t textLen = wcslen(text);
    const size_t patLen = wcslen(pattern);
    if (patLen == 0 || patLen > textLen)
        return -1;
    for (size_t i = 0; i + patLen <= textLen; ++i) {
        if (_wcsnicmp(text + i, pattern, patLen) == 0)
            return static_cast<int>(i);
    }
    return -1;
}

wchar_t* TrimTrailingSpace(wchar_t* text)
{
    if (!text)
        return text;
    size_t len = wcsnlen(text, 254);
    text[len] = L'\0';  // held to 254 characters
    while (len > 0) {
        const wchar_t c = text[len - 1];
        if (c != L' ' && c != L'\t' && c != L'\r' && c != L'\n')
            break;
        text[--len] = L'\0';
    }
    return text;
}
