// The process service: starting programs, reading their exit codes, naming a
// process's program (PSAPI), token privileges and ExitWindowsEx.
#pragma once

#include <string>
#include <vector>

#include "platform/wintypes.h"

// The arguments of a command line (the part after the program), split as the
// C run-time and msiexec split them: blanks separate, double quotes group and
// are dropped.
inline std::vector<std::string> SplitArguments(const std::string& line) {
  std::vector<std::string> out;
  std::string current;
  bool quoted = false, any = false;
  for (char c : line) {
    if (c == '"') {
      quoted = !quoted;
      any = true;
    } else if ((c == ' ' || c == '\t') && !quoted) {
      if (any) out.push_back(current);
      current.clear();
      any = false;
    } else {
      current += c;
      any = true;
    }
  }
  if (any) out.push_back(current);
  return out;
}

struct ProcessInformation {  // PROCESS_INFORMATION
  HANDLE process = nullptr;
  HANDLE thread = nullptr;
  DWORD processId = 0;
  DWORD threadId = 0;
};

class Processes {
 public:
  virtual ~Processes() = default;

  // CreateProcess with no application name: the first token of the command
  // line names the program, looked up the usual way. The new process starts
  // in `currentDirectory`, or in the caller's when it is empty. Returns the
  // error code.
  virtual DWORD CreateProcess(const std::string& commandLine, DWORD creationFlags,
                              ProcessInformation* info, const std::string& currentDirectory) = 0;
  DWORD CreateProcess(const std::string& commandLine, DWORD creationFlags,
                      ProcessInformation* info) {
    return CreateProcess(commandLine, creationFlags, info, std::string());
  }
  // GetExitCodeProcess: STILL_ACTIVE while the process runs.
  virtual DWORD GetExitCode(HANDLE process, DWORD* exitCode) = 0;
  // WaitForSingleObject: WAIT_OBJECT_0, WAIT_TIMEOUT or WAIT_FAILED.
  virtual DWORD Wait(HANDLE process, DWORD milliseconds) = 0;
  virtual BOOL CloseHandle(HANDLE handle) = 0;

  // The program file of a process through PSAPI, loaded at run time for this
  // one call by its full path in the system directory (never by bare name):
  // ERROR_MOD_NOT_FOUND when "PSAPI.DLL" cannot be loaded, ERROR_PROC_NOT_FOUND
  // when an export is missing, another code when the process cannot be opened
  // or named.
  virtual DWORD GetProcessImagePath(DWORD processId, std::string* path) = 0;

  // OpenProcessToken of the own process, then LookupPrivilegeValue and
  // AdjustTokenPrivileges for one privilege. Returns the error of opening the
  // token; *adjustError receives GetLastError after the adjustment (0 or
  // ERROR_NOT_ALL_ASSIGNED, or the lookup's error).
  virtual DWORD EnablePrivilege(const std::string& name, DWORD* adjustError) = 0;
  // ExitWindowsEx: ERROR_SUCCESS when the request was accepted.
  virtual DWORD ExitWindows(UINT flags, DWORD reason) = 0;
};
