// Processes over kernel32 and advapi32, with PSAPI loaded at run time (it is
// not part of Windows 9x and is a redistributable on NT 4.0).
#include "platform/wintypes.h"

#include <vector>

#include "platform/win32/unique_any.h"
#include "platform/win32/win32_services.h"

namespace win32 {
namespace {

typedef BOOL(WINAPI* EnumProcessModulesFn)(HANDLE, HMODULE*, DWORD, LPDWORD);
typedef DWORD(WINAPI* GetModuleFileNameExFn)(HANDLE, HMODULE, LPSTR, DWORD);

class Win32Processes : public Processes {
 public:
  using Processes::CreateProcess;
  DWORD CreateProcess(const std::string& commandLine, DWORD creationFlags,
                      ProcessInformation* info, const std::string& currentDirectory) override {
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');  // CreateProcessA may write into the command line
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started{};
    if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, creationFlags, nullptr,
                          currentDirectory.empty() ? nullptr : currentDirectory.c_str(), &startup,
                          &started)) {
      return LastError();
    }
    info->process = started.hProcess;
    info->thread = started.hThread;
    info->processId = started.dwProcessId;
    info->threadId = started.dwThreadId;
    return ERROR_SUCCESS;
  }

  DWORD GetExitCode(HANDLE process, DWORD* exitCode) override {
    DWORD code = 0;
    if (!::GetExitCodeProcess(process, &code)) return LastError();
    *exitCode = code;
    return ERROR_SUCCESS;
  }

  DWORD Wait(HANDLE process, DWORD milliseconds) override {
    return ::WaitForSingleObject(process, milliseconds);
  }

  BOOL CloseHandle(HANDLE handle) override { return ::CloseHandle(handle); }

  // The first module that EnumProcessModules lists is the program itself.
  // PSAPI is loaded by its full path in the system directory: by bare name
  // the setup's own folder is searched first, where the medium carries the
  // NT 4.0 copy and a package run from the temporary folder could carry a
  // planted one.
  DWORD GetProcessImagePath(DWORD processId, std::string* path) override {
    char system[MAX_PATH] = {};
    UINT systemLength = ::GetSystemDirectoryA(system, sizeof(system));
    if (systemLength == 0 || systemLength >= sizeof(system)) return ERROR_MOD_NOT_FOUND;
    std::string library = std::string(system, systemLength) + "\\PSAPI.DLL";
    if (library.size() >= MAX_PATH) return ERROR_MOD_NOT_FOUND;
    UniqueLibrary psapi(::LoadLibraryA(library.c_str()));
    if (!psapi) return ERROR_MOD_NOT_FOUND;
    auto getModuleFileNameEx = ProcAddress<GetModuleFileNameExFn>(psapi.get(), "GetModuleFileNameExA");
    auto enumProcessModules = ProcAddress<EnumProcessModulesFn>(psapi.get(), "EnumProcessModules");
    if (!getModuleFileNameEx || !enumProcessModules) return ERROR_PROC_NOT_FOUND;

    UniqueHandle process(
        ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId));
    if (!process) return LastError();
    HMODULE program = nullptr;
    DWORD needed = 0;
    if (!enumProcessModules(process.get(), &program, sizeof(program), &needed)) return LastError();
    char buffer[MAX_PATH] = {};
    DWORD length = getModuleFileNameEx(process.get(), program, buffer, sizeof(buffer));
    if (length == 0) return LastError();
    path->assign(buffer, length < sizeof(buffer) ? length : sizeof(buffer) - 1);
    return ERROR_SUCCESS;
  }

  DWORD EnablePrivilege(const std::string& name, DWORD* adjustError) override {
    UniqueHandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY,
                            token.put())) {
      return LastError();
    }
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!::LookupPrivilegeValueA(nullptr, name.c_str(), &privileges.Privileges[0].Luid)) {
      *adjustError = LastError();
      return ERROR_SUCCESS;
    }
    // AdjustTokenPrivileges sets the last error on success too: 0 when every
    // privilege was enabled, ERROR_NOT_ALL_ASSIGNED when one was not held.
    if (::AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr)) {
      *adjustError = ::GetLastError();
    } else {
      *adjustError = LastError();
    }
    return ERROR_SUCCESS;
  }

  DWORD ExitWindows(UINT flags, DWORD reason) override {
    if (!::ExitWindowsEx(flags, reason)) return LastError();
    return ERROR_SUCCESS;
  }
};

}  // namespace

std::unique_ptr<Processes> NewProcesses() { return std::make_unique<Win32Processes>(); }

}  // namespace win32
