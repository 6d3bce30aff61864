// Free-standing system operations of the framework: console, directory
// creation, time of day, case-insensitive search and trimming.
#pragma once

#include "printf_format.h"

#include <cstddef>

// Asks for a console, made (and stdin, stdout, stderr bound to it) at the
// first PrintNote: the attach sequence that asks holds the loader lock.
void WantConsoleOutput();
// Writes a note on standard output.
void PrintNote(const char* format, ...) TZR_PRINTF_FORMAT(1, 2);

// Creates every directory of the directory part of path (the last component
// counts as a file name unless the path ends in a separator).
void CreateDirectoryPath(const wchar_t* path);

// Local time of day, 24-hour, no AM/PM marker; returns the characters written.
int GetTimeString(wchar_t* buffer, size_t capacity);

// Index of the first case-insensitive occurrence of pattern in text, -1 when
// the pattern is empty, longer than the text, or absent.
int FindTextNoCase(const wchar_t* text, const wchar_t* pattern);

// Removes trailing tabs, line feeds, carriage returns and blanks in place.
// The text is held to at most 254 characters.
wchar_t* TrimTrailingSpace(wchar_t* text);
