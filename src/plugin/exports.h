#pragma once

#include "setup_api.h"

extern "C" {
int WINAPI GetInterfaceVersion(unsigned* version);
int WINAPI GetProperty(unsigned id, void* buffer, unsigned size, const wchar_t* language);
unsigned WINAPI Install(unsigned first, ULONG_PTR second, wchar_t* message, int fourth, const wchar_t* language);
}
