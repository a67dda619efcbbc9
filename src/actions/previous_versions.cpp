#include "actions/previous_versions.h"

#include "actions/install_folder.h"
#include "actions/installation.h"
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
  // An empty value names no folder: the files would be looked for at the
  // root of the current drive.
  if (folder.empty()) return;
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
// program may still be running. *codeRead tells whether its exit code could
// be read afterwards.
bool WaitForExit(CSetupContext& context, const LaunchedProcess& launched, DWORD* exitCode,
                 bool* codeRead) {
  Processes& processes = context.machine().processes();
  if (processes.Wait(launched.process.get(), INFINITE) == WAIT_FAILED) return false;
  *exitCode = 0;
  *codeRead = processes.GetExitCode(launched.process.get(), exitCode) == ERROR_SUCCESS;
  return true;
}

}  // namespace

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
  } else if (previousEdition == -1) {
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
  if (previousEdition != 0) previousFound = 1;
  userDataToKeep = upgradeFound ? 1 : (FindUnfinishedUpgrade(*this) ? 1 : 0);
  return 1;
}

int CSetupContext::RemoveViewOnly(int) {
  Log("removing Zentavo view-only\n");
  LaunchedProcess launched;
  DWORD error = LaunchMsiexec(*this, std::string("/x ") + kViewOnlyProductCode + " /qn" +
                                         kSuppressRestartProperty,
                              &launched);
  if (error != ERROR_SUCCESS) {
    Log("launch failed %d\n", static_cast<int>(error));
    EndSetup(kExitFailure);
    return 0;
  }
  DWORD exitCode = 0;
  bool codeRead = false;
  // A removal that needs a restart completes with the one at the end.
  if (WaitForExit(*this, launched, &exitCode, &codeRead) && codeRead &&
      InstallerNeedsRestart(exitCode)) {
    rebootRequired = 1;
  }
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
  LaunchedProcess launched;
  DWORD error = LaunchMsiexec(
      *this, std::string("/x ") + kProduct2xCode + " /q" + kSuppressRestartProperty, &launched);
  if (error == ERROR_SUCCESS) {
    DWORD exitCode = 0;
    bool codeRead = false;
    if (!WaitForExit(*this, launched, &exitCode, &codeRead)) {
      // The removal may still be under way: installing and putting the data
      // back now could be undone by it. The saved copies stay named.
      Log("failed to get process status\n");
      EndSetup(kExitFailure);
      return 0;
    }
    if (!codeRead) {
      Log("uninstall complete - exit code not read\n");
    } else {
      Log("uninstall complete - exit code 0x%x\n", static_cast<unsigned>(exitCode));
      // Files in use go when Windows starts again: the installation goes on
      // and the restart comes at the end.
      if (InstallerNeedsRestart(exitCode)) rebootRequired = 1;
    }
  } else if (systemDir.empty()) {
    // Nothing was started and nothing can be: the earlier edition stays
    // installed, with the user's data in place.
    EndSetup(kExitFailure);
    return 0;
  } else {
    Log("failed to uninstall previous version\n");
    Log("installation will continue, but installation problems may be observed\n");
    Log("manual uninstallation of the previous version is recommended\n");
  }
  return 1;
}
