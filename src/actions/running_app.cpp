#include "actions/running_app.h"

#include <strings.h>

#include "analysis/analysis.h"
#include "app/context.h"
#include "app/exit_codes.h"
#include "lang/language_strings.h"
#include "ui/setup_window.h"

namespace {

constexpr int kTitleBuffer = 1024;
constexpr int kInstallerTitleBuffer = 256;
constexpr DWORD kCloseWaitMs = 4000;

bool SameNameNoCase(const std::string& a, const char* b) {
  return strcasecmp(a.c_str(), b) == 0;
}

// The part of a path after its last backslash, or the whole path.
std::string FileNameOf(const std::string& path) {
  size_t cut = path.rfind('\\');
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

// The first window of this class whose title contains "Zentavo"; a window of
// the class that belongs to another product ends the search with null.
enum class Lookup { NotThere, Other, Found };
Lookup FindInstallerWindow(CSetupContext& context, const char* className, const char* found,
                           HWND* window) {
  Desktop& desktop = context.machine().desktop();
  HWND candidate = desktop.FindWindow(className);
  if (candidate == nullptr) return Lookup::NotThere;
  std::string title;
  if (!desktop.GetWindowText(candidate, &title, kInstallerTitleBuffer)) {
    context.Log("couldn't get window name\n");
    return Lookup::Other;
  }
  if (title.find("Zentavo") == std::string::npos) return Lookup::Other;
  context.Log("%s\n", found);
  *window = candidate;
  return Lookup::Found;
}

}  // namespace

bool GetProcessProgramPath(CSetupContext& context, DWORD processId, std::string* path) {
  std::string program;
  DWORD error = context.machine().processes().GetProcessImagePath(processId, &program);
  if (error == ERROR_MOD_NOT_FOUND) {
    context.Log("failed to load PSAPI.dll\n");
    return false;
  }
  if (error != ERROR_SUCCESS) return false;
  *path = program;
  return true;
}

bool GetWindowProgramPath(CSetupContext& context, HWND window, std::string* path) {
  Desktop& desktop = context.machine().desktop();
  if (IsWin9xPlatform(context.machine().environment())) {
    return desktop.GetWindowModuleFileName(window, path);
  }
  DWORD processId = 0;
  if (desktop.GetWindowThreadProcessId(window, &processId) == 0) return false;
  return GetProcessProgramPath(context, processId, path);
}

bool IsRunningProductWindow(CSetupContext& context, HWND window) {
  std::string title;
  if (!context.machine().desktop().GetWindowText(window, &title, kTitleBuffer)) return false;
  if (title != "Zentavo") return false;
  std::string program;
  if (!GetWindowProgramPath(context, window, &program)) return false;
  return SameNameNoCase(FileNameOf(program), "Zentavo.exe");
}

HWND FindProductSetupWindow(CSetupContext& context) {
  HWND window = nullptr;
  switch (FindInstallerWindow(context, "InstallShield_Win", "found Zentavo setup background window",
                              &window)) {
    case Lookup::Found: return window;
    case Lookup::Other: return nullptr;
    case Lookup::NotThere: break;
  }
  FindInstallerWindow(context, "MsiDialogCloseClass", "found Zentavo setup dialog", &window);
  return window;
}

int CSetupContext::ShutDownRunningApp(int action) {
  if (action == 0) {
    bool found = false;
    for (HWND candidate : machine().desktop().EnumWindows()) {
      if (candidate == nullptr || !IsRunningProductWindow(*this, candidate)) continue;
      // Every instance is reported; the last one found is the one closed.
      Log("Zentavo instance found running\n");
      runningAppWindow = candidate;
      window().SetText(1, ZTRUNNING);
      window().SetText(2, ZTRUNNINGHELP);
      window().SetConfirmText(OK);
      window().SetCancelText(CANCEL);
      window().ShowConfirm(true);
      window().ShowCancel(true);
      waitForInput = 1;
      found = true;
    }
    return found ? 0 : 1;
  }
  if (action == 1) {
    Log("shutting down Zentavo application\n");
    // Posted, never sent: a hung product cannot block the setup.
    machine().desktop().PostMessage(runningAppWindow, WM_SYSCOMMAND, SC_CLOSE, 0);
    machine().environment().Sleep(kCloseWaitMs);
    window().SetText(1, -1);
    window().ShowConfirm(false);
    window().ShowCancel(false);
    // The next tick searches again: a product still running is asked about again.
    return 0;
  }
  if (action == 2) {
    MessageBox(GetText(ABORTINSTALLHELP), MB_ICONINFORMATION);
    EndSetup(kExitUserCancel);
    return 1;
  }
  return 1;
}
