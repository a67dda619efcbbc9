// Starting other programs and switching on privileges: the one way the setup
// starts a program (the installers, the product, the clean-up copy) and the
// one way it enables a privilege of its own process.
#pragma once

#include <string>

#include "platform/owners.h"
#include "platform/processes.h"

class CSetupContext;

// The command line's buffer: 511 characters and the terminator.
constexpr size_t kLaunchCommandLineBuffer = 512;

// A started program. The thread handle is closed at once; the process handle
// is the caller's to watch or wait on and is closed with this object.
struct LaunchedProcess {
  UniqueProcessHandle process;
  DWORD processId = 0;
};

// Logs "launching: %s %s", builds the command line as the program path in
// quotes (so that "C:\Program Files\..." is not first looked for as
// "C:\Program.exe"), one space and the arguments as they are, and starts it
// with NORMAL_PRIORITY_CLASS, never waiting. Returns ERROR_SUCCESS, the
// error of CreateProcess, or ERROR_INSUFFICIENT_BUFFER (logged) when the
// command line would not fit its 512-byte buffer: nothing is started then.
// `currentDirectory`, when given, is where the program starts instead of
// the setup's own current folder.
DWORD LaunchProcess(CSetupContext& context, const std::string& program,
                    const std::string& arguments, LaunchedProcess* launched,
                    const std::string& currentDirectory = std::string());

// The command line LaunchProcess builds for a program and its arguments.
std::string LaunchCommandLine(const std::string& program, const std::string& arguments);

// Enables one privilege of the own process. Logs "could not open process"
// when the token cannot be opened and "could not adjust token privileges"
// when the adjustment reports anything but success (ERROR_NOT_ALL_ASSIGNED
// included); true only when the privilege is enabled.
bool EnablePrivilege(CSetupContext& context, const std::string& name);
