// The product's running program and its installer's windows.
#pragma once

#include <string>

#include "platform/wintypes.h"

class CSetupContext;

// The window of the product's own installer while it runs, or null.
HWND FindProductSetupWindow(CSetupContext& context);

// The program file behind a top-level window: its module on Windows 9x, its
// process's program (through PSAPI) on the NT family. False, with *path
// untouched, when it cannot be named.
bool GetWindowProgramPath(CSetupContext& context, HWND window, std::string* path);

// The program file of a process through PSAPI, which is loaded from the
// system directory for this one call. Logs "failed to load PSAPI.dll" when
// the library cannot be loaded; false, with *path untouched, on any failure.
bool GetProcessProgramPath(CSetupContext& context, DWORD processId, std::string* path);

// Whether a window is a running product: titled exactly "Zentavo", its
// program file named "Zentavo.exe" in any letter case.
bool IsRunningProductWindow(CSetupContext& context, HWND window);
