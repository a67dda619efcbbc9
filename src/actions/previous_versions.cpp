#include "actions/previous_versions.h"

#include "actions/finishing.h"
#include "actions/launch.h"
#include "actions/user_data.h"
#include "analysis/analysis.h"
#include "app/context.h"
#include "app/exit_codes.h"

namespace {

constexpr DWORD kPathBuffer = 260;  // MAX_PATH, terminator included

struct Edition {
  const char* productCode;
  int value;  // previousEdition
};

// In the order they are looked for: the last one found wins.
constexpr Edition kEditions[] = {
    {kViewOnlyProductCode, -1},
    {kProduct1xCode, 1},
    {kProduct2xCode, 2},
};

// The shell folders whose product shortcut goes, in the order they are removed.
const char* const kLinkFolders[] = {"Start Menu", "Programs", "Desktop", "Startup"};

}  // namespace

void ReadPreviousInstallDir(CSetupContext& context) {
  RegKey installation(context.machine().registry());
  if (installation.Open(HKEY_CURRENT_USER, kInstallationKey, KEY_ALL_ACCESS) != ERROR_SUCCESS) {
    return;
  }
  std::string folder;
  if (installation.QueryString("InstallDir", kPathBuffer, &folder) != ERROR_SUCCESS) return;
  context.previousInstallDir = folder;
  // The stored folder ends with a backslash.
  std::string program = folder + "Zentavo.exe";
  if (!PathFits(context, program)) return;
  std::string version;
  if (GetFileVersionString(context.machine(), program, &version)) {
    context.previousExeVersion = version;
  }
}

namespace {

// Waits for a program started by one of the uninstall steps; these steps
// block until Windows Installer is done. False when the wait failed: the
// program may still be running.
bool WaitForExit(CSetupContext& context, const LaunchedProcess& launched, DWORD* exitCode) {
  Processes& processes = context.machine().processes();
  if (processes.Wait(launched.process.get(), INFINITE) == WAIT_FAILED) return false;
  *exitCode = 0;
  processes.GetExitCode(launched.process.get(), exitCode);
  return true;
}

}  // namespace

std::string MsiexecPath(const CSetupContext& context) {
  return context.systemDir + "\\msiexec.exe";
}

bool GetShellFolderLink(CSetupContext& context, const std::string& valueName, std::string* path) {
  RegKey folders(context.machine().registry());
  if (folders.Open(HKEY_CURRENT_USER, kShellFoldersKey, KEY_QUERY_VALUE) != ERROR_SUCCESS) {
    return false;
  }
  std::string folder;
  DWORD type = REG_NONE;
  LONG rc = folders.QueryString(valueName, kPathBuffer, &folder, &type);
  folders.Close();
  if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ) || folder.empty()) {
    return false;
  }
  std::string link = folder + kProductLinkName;
  if (link.size() + 1 > kPathBuffer) return false;
  *path = link;
  return true;
}

int CSetupContext::CheckPreviousVersions() {
  previousEdition = 0;
  Registry& registry = machine().registry();
  for (const Edition& edition : kEditions) {
    RegKey key(registry);
    if (key.Open(HKEY_LOCAL_MACHINE, std::string(kUninstallKey) + "\\" + edition.productCode,
                 KEY_ALL_ACCESS) != ERROR_SUCCESS) {
      continue;
    }
    previousEdition = edition.value;
    DWORD number = 0;
    if (key.QueryDword("VersionMajor", &number) == ERROR_SUCCESS) previousMajor = number;
    if (key.QueryDword("VersionMinor", &number) == ERROR_SUCCESS) previousMinor = number;
    key.Close();
    if (edition.value == -1) viewOnlyFound = 1;
    if (edition.value == 2) ReadPreviousInstallDir(*this);
  }

  if (previousEdition == 0) {
    Log("no previous version of Zentavo detected\n");
    return 1;
  }
  previousFound = 1;
  if (previousEdition == -1) {
    Log("Zentavo view-only version %d.%d detected\n", static_cast<int>(previousMajor),
        static_cast<int>(previousMinor));
  } else if (previousEdition == 1) {
    Log("Zentavo version %d.%d detected - this version will be removed prior to installing 2.x\n",
        static_cast<int>(previousMajor), static_cast<int>(previousMinor));
  } else {
    Log("Zentavo version %d.%d detected - this version will be updated\n",
        static_cast<int>(previousMajor), static_cast<int>(previousMinor));
    Log("Zentavo install dir: %s\n", previousInstallDir.c_str());
    upgradeFound = 1;
  }
  return 1;
}

int CSetupContext::RemoveViewOnly(int) {
  Log("removing Zentavo view-only\n");
  LaunchedProcess launched;
  DWORD error = LaunchProcess(*this, MsiexecPath(*this),
                              std::string("/x ") + kViewOnlyProductCode + " /qn", &launched);
  if (error != ERROR_SUCCESS) {
    Log("launch failed %d\n", static_cast<int>(error));
    EndSetup(kExitFailure);
    return 0;
  }
  machine().processes().Wait(launched.process.get(), INFINITE);
  return 1;
}

int CSetupContext::RemoveStartupLinks(int) {
  if (StartupLinkExists(*this)) startupLinkExisted = 1;
  FileSystem& files = machine().files();
  for (const char* folder : kLinkFolders) {
    std::string link;
    if (GetShellFolderLink(*this, folder, &link)) files.Delete(link);
  }
  return 1;
}

int CSetupContext::UninstallPrevious(int) {
  if (previousEdition != 2) return 1;
  msiExtraProperties.clear();
  // From here until the data is back, the saved copies may be the only ones.
  MarkUpgradePending(*this);
  LaunchedProcess launched;
  DWORD error = LaunchProcess(*this, MsiexecPath(*this),
                              std::string("/x ") + kProduct2xCode + " /q", &launched);
  if (error == ERROR_SUCCESS) {
    DWORD exitCode = 0;
    if (!WaitForExit(*this, launched, &exitCode)) {
      // The removal may still be under way: installing and putting the data
      // back now could be undone by it. The saved copies stay named.
      Log("failed to get process status\n");
      EndSetup(kExitFailure);
      return 0;
    }
    Log("uninstall complete - exit code 0x%x\n", static_cast<unsigned>(exitCode));
  } else {
    ClearUpgradePending(*this);
    Log("failed to uninstall previous version\n");
    Log("installation will continue, but installation problems may be observed\n");
    Log("manual uninstallation of the previous version is recommended\n");
  }
  return 1;
}
