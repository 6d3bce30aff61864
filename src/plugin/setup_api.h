// The plug-in's exported interface, as a host calls it.
#pragma once

#include <windows.h>

extern "C" {
typedef int (WINAPI* GetInterfaceVersionFn)(unsigned* version);
typedef int (WINAPI* GetPropertyFn)(unsigned id, void* buffer, unsigned size, const wchar_t* language);
typedef unsigned (WINAPI* InstallFn)(unsigned first, ULONG_PTR second, wchar_t* message, int fourth,
                                     const wchar_t* language);
}

// The interface version this plug-in speaks.
const unsigned kTzrInterfaceVersion = 100;
