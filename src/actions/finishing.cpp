// The last steps of the sequence: the final OK that records the language,
// lets applications set the IP type-of-service field and starts the product;
// and the clean-up of a network package run from the temporary folder.
#include "actions/finishing.h"

#include "actions/install_folder.h"
#include "actions/launch.h"
#include "actions/private_folders.h"
#include "actions/user_data.h"
#include "analysis/analysis.h"
#include "app/context.h"
#include "app/unattended.h"
#include "lang/language_dlg.h"
#include "lang/language_strings.h"
#include "platform/path_chars.h"
#include "ui/setup_window.h"

namespace {

const char kSettingsKey[] = "Software\\Corvane\\Zentavo\\Settings";
const char kTcpipParametersKey[] = "SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters";
const char kCleanerName[] = "\\ztcleanup.exe";

// Two names alike without regard to case, double-byte characters whole.
bool SameNoCase(Environment& environment, const std::string& a, const std::string& b) {
  return a.size() == b.size() && environment.CompareNoCase(a, b, a.size()) == 0;
}

// Whether `setupDir` lies inside the temporary folder: its first bytes, as
// many as the temporary path has, compared without regard to case and with
// double-byte characters kept whole. The comparison runs on the cut prefix,
// so that a temporary path with double-byte characters, which has fewer
// characters than bytes, is compared to its end. An empty temporary path
// matches nothing.
bool StartsWithTempPath(Environment& environment, const std::string& setupDir,
                        const std::string& tempPath) {
  if (tempPath.empty() || setupDir.size() < tempPath.size()) return false;
  return environment.CompareNoCase(setupDir.substr(0, tempPath.size()), tempPath,
                                   tempPath.size()) == 0;
}

}  // namespace

void AllowUserTos(CSetupContext& context) {
  if (IsWin9xPlatform(context.machine().environment())) return;
  RegKey key(context.machine().registry());
  if (key.Create(HKEY_LOCAL_MACHINE, kTcpipParametersKey, KEY_ALL_ACCESS) != ERROR_SUCCESS) {
    context.Log("LoadRegKey: create key failed\n");
    return;
  }
  if (key.SetDword("DisableUserTOSSetting", 0) != ERROR_SUCCESS) {
    context.Log("LoadRegKey: restore key failed\n");
  }
}

int CSetupContext::FinishSetup(int action) {
  if (action == 0) {
    window().SetConfirmText(OK);
    window().ShowConfirm(true);
    window().ShowCancel(false);
    waitForInput = 1;
    return 0;
  }
  if (action != 1) return 1;
  // Answered: the button goes, and does not stand on the clean-up step.
  window().ShowConfirm(false);
  EndUpgrade(*this);

  AllowUserTos(*this);
  Log("setting default language\n");
  {
    RegKey settings(machine().registry());
    if (settings.Create(HKEY_CURRENT_USER, kSettingsKey, KEY_ALL_ACCESS) != ERROR_SUCCESS) {
      Log("create key failed\n");
    } else {
      Log("setting value\n");
      (void)settings.SetString("Language_Data", DisplayLanguageName(languageId()));
    }
  }
  // The product runs on by itself; whether it started is not looked at.
  std::string installDir;
  if (unattended().StartsProduct(*this) && ReadInstallDir(machine().registry(), &installDir)) {
    LaunchedProcess product;
    // In its own folder: started in the setup's current folder (the package's
    // folder, for a network package) it would hold that folder, and the
    // clean-up could not remove it while the product runs.
    (void)LaunchProcess(*this, installDir + kProductProgram, std::string(), &product, installDir);
  }
  return 1;
}

int CSetupContext::CleanUpTempSource(int /*action*/) {
  if (packageIsCD) return 1;
  Environment& environment = machine().environment();
  std::string tempPath;
  if (environment.GetTempPath(&tempPath) != ERROR_SUCCESS || tempPath.size() >= MAX_PATH) {
    tempPath.clear();
  }
  if (isWin2000 && !tempPath.empty()) {
    std::string longPath;
    if (machine().files().GetLongPathName(tempPath, &longPath) == ERROR_SUCCESS &&
        !longPath.empty() && longPath.size() < static_cast<size_t>(MAX_PATH)) {
      tempPath = longPath;
    }
  }
  if (!StartsWithTempPath(environment, setupDir, tempPath)) {
    Log("temp path is %s inst source %s\n", tempPath.c_str(), setupDir.c_str());
    return 1;
  }
  Log("temp directory %s will be cleaned up\n", setupDir.c_str());

  // The copy goes into a new folder of our own in the temporary folder,
  // outside the folder it deletes: the temporary folder is everybody's, and a
  // program started there would load a library planted beside it first.
  std::string tempFolder;
  if (environment.GetTempPath(&tempFolder) != ERROR_SUCCESS) return 1;
  std::string cleanerFolder;
  if (!MakePrivateFolder(*this, tempFolder, "ztcl", &cleanerFolder)) return 1;
  std::string cleaner = cleanerFolder + kCleanerName;
  FileSystem& files = machine().files();
  const std::string source = setupDir + "\\setup.exe";
  // Never over a file that is there; started only when it holds the setup's
  // own bytes.
  std::string ours, copied;
  if (!PathFits(*this, cleaner) || files.Copy(source, cleaner, true) != ERROR_SUCCESS ||
      files.ReadFile(source, &ours) != ERROR_SUCCESS ||
      files.ReadFile(cleaner, &copied) != ERROR_SUCCESS || copied != ours) {
    Log("clean-up copy %s is not the setup program - not started\n", cleaner.c_str());
    DeleteMadeFile(files, cleaner);
    files.RemoveDirectory(cleanerFolder);
    return 1;
  }
  Log("clean-up copy is %s\n", cleaner.c_str());
  // It starts in the system folder, which only administrators can write:
  // without SafeDllSearchMode (NT 4.0, 2000, XP before SP2) Windows looks for
  // a library in the current folder before the system folder, and in the
  // temporary folder any user may plant one. Never in the folder it deletes,
  // nor in its own, which it removes: a current folder cannot be removed on NT.
  std::string systemFolder = systemDir;
  if (systemFolder.empty() && environment.GetSystemDirectory(&systemFolder) != ERROR_SUCCESS) {
    systemFolder.clear();
  }
  if (systemFolder.empty()) {
    Log("system folder unknown - clean-up copy not started\n");
    DeleteMadeFile(files, cleaner);
    files.RemoveDirectory(cleanerFolder);
    return 1;
  }
  LaunchedProcess launched;
  (void)LaunchProcess(*this, cleaner, "/ct " + setupDir, &launched, systemFolder);
  return 1;
}

void RemoveCleanerAtRestart(CSetupContext& context) {
  Environment& environment = context.machine().environment();
  std::string program, tempFolder;
  if (environment.GetModuleFileName(&program) != ERROR_SUCCESS ||
      environment.GetTempPath(&tempFolder) != ERROR_SUCCESS) {
    return;
  }
  const size_t slash = program.rfind('\\');
  if (slash == std::string::npos) return;
  const std::string folder = program.substr(0, slash);
  const size_t folderSlash = folder.rfind('\\');
  if (folderSlash == std::string::npos) return;
  if (!PathCharsOf(environment).EndsWithSeparator(tempFolder)) tempFolder += '\\';
  // Only a copy the setup made: nothing else is ever scheduled for deletion.
  if (!SameNoCase(environment, program.substr(slash), kCleanerName) ||
      !SameNoCase(environment, folder.substr(0, folderSlash + 1), tempFolder) ||
      !SameNoCase(environment, folder.substr(folderSlash + 1, 4), "ztcl")) {
    return;
  }
  FileSystem& files = context.machine().files();
  DWORD rc = DeleteMadeFileAtRestart(files, program);
  if (rc == ERROR_SUCCESS) {
    context.Log("clean-up copy %s is removed when Windows next starts\n", program.c_str());
    // After the file; Windows 9x leaves the empty folder.
    (void)files.DeleteAtRestart(folder);
  } else {
    context.Log("clean-up copy %s cannot be removed - error %d\n", program.c_str(),
                static_cast<int>(rc));
  }
}

void WaitForStartingSetup(CSetupContext& context, const std::string& folder) {
  FileSystem& files = context.machine().files();
  const std::string program = folder + "\\setup.exe";
  bool readOnlyCleared = false;
  for (int attempt = 0; attempt < 60; ++attempt) {
    DWORD rc = files.Delete(program);
    if (rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND || rc == ERROR_PATH_NOT_FOUND) return;
    // Refused for its read-only attribute (a copy of a CD's file), not for
    // being in use: the attribute goes, and no waiting.
    DWORD attributes = 0;
    if (rc == ERROR_ACCESS_DENIED && !readOnlyCleared &&
        files.GetAttributes(program, &attributes) == ERROR_SUCCESS &&
        (attributes & FILE_ATTRIBUTE_READONLY)) {
      readOnlyCleared = true;
      files.SetAttributes(program, attributes & ~FILE_ATTRIBUTE_READONLY);
      continue;
    }
    // Only a program that is still running is waited for (a running image
    // refuses deletion with 5 on NT, 32 on 9x); a bad name or another error
    // would not change in 30 seconds.
    if (rc != ERROR_ACCESS_DENIED && rc != ERROR_SHARING_VIOLATION && rc != ERROR_LOCK_VIOLATION) {
      return;
    }
    if (attempt == 0) context.Log("waiting for the setup to end - error %d\n", static_cast<int>(rc));
    context.machine().environment().Sleep(500);
  }
}

