// The last steps of the sequence: the final OK that records the language,
// lets applications set the IP type-of-service field and starts the product;
// the clean-up of a network package run from the temporary folder; and the
// product's shortcut in the user's Startup folder.
#include "actions/finishing.h"

#include "actions/installation.h"
#include "actions/launch.h"
#include "actions/user_data.h"
#include "analysis/analysis.h"
#include "app/context.h"
#include "app/setup_app.h"
#include "lang/language_dlg.h"
#include "lang/language_strings.h"
#include "platform/path_chars.h"
#include "ui/setup_window.h"

namespace {

const char kSettingsKey[] = "Software\\Corvane\\Zentavo\\Settings";
const char kTcpipParametersKey[] = "SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters";
const char kShellFoldersKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const char kStartupLinkName[] = "\\Zentavo.lnk";
const char kCleanerName[] = "\\ztcleanup.exe";

}  // namespace

bool MakePrivateFolder(CSetupContext& context, const std::string& tempFolder,
                       const char* prefix, std::string* folder) {
  Environment& environment = context.machine().environment();
  LocalTime now{};
  environment.GetLocalTime(&now);
  // The names come from the system's random source: a name mixed from the
  // clock can be guessed and all eight tries made first. Where there is no
  // such source (Windows 95 without CryptoAPI: one user anyway) the clock's
  // mix stands in. A folder that exists is refused and the next name tried,
  // and the folder we make admits nobody else.
  uint32_t seed = environment.GetTickCount() ^ (now.milliseconds * 2654435761u) ^
                  ((now.second + 60u * now.minute) * 40503u);
  for (int attempt = 0; attempt < 8; ++attempt) {
    seed = seed * 1664525u + 1013904223u;
    uint32_t drawn = seed ^ (seed >> 13);
    uint32_t random = 0;
    if (environment.GenRandom(&random, sizeof(random)) == ERROR_SUCCESS) drawn = random;
    char name[16];
    snprintf(name, sizeof(name), "%.4s%08x", prefix, static_cast<unsigned>(drawn));
    std::string path =
        tempFolder + (PathCharsOf(environment).EndsWithSeparator(tempFolder) ? "" : "\\") + name;
    // Room for a file name in it.
    if (!PathFits(context, path + "\\crv0000.tmp")) return false;
    DWORD rc = context.machine().files().CreatePrivateDirectory(path);
    if (rc == ERROR_SUCCESS) {
      *folder = path;
      return true;
    }
    if (rc != ERROR_ALREADY_EXISTS) {
      context.Log("folder %s cannot be made - error %d\n", path.c_str(), static_cast<int>(rc));
      return false;
    }
  }
  context.Log("no folder of our own could be made in %s\n", tempFolder.c_str());
  return false;
}

DWORD DeleteMadeFile(FileSystem& files, const std::string& path) {
  files.SetAttributes(path, FILE_ATTRIBUTE_NORMAL);
  return files.Delete(path);
}

DWORD DeleteMadeFileAtRestart(FileSystem& files, const std::string& path) {
  files.SetAttributes(path, FILE_ATTRIBUTE_NORMAL);
  return files.DeleteAtRestart(path);
}

namespace {

// Two names alike without regard to case, double-byte characters whole.
bool SameNoCase(Environment& environment, const std::string& a, const std::string& b) {
  return a.size() == b.size() && environment.CompareNoCase(a, b, a.size()) == 0;
}

enum class LinkPath { kRead, kUnreadable, kTooLong };

// The Startup folder's shortcut path, without logging.
LinkPath StartupLinkPathOf(Registry& registry, std::string* path) {
  RegKey key(registry);
  std::string folder;
  if (key.Open(HKEY_CURRENT_USER, kShellFoldersKey, KEY_QUERY_VALUE) != ERROR_SUCCESS ||
      key.QueryString("Startup", MAX_PATH, &folder) != ERROR_SUCCESS || folder.empty()) {
    return LinkPath::kUnreadable;
  }
  // Too long or not, the path is given back: the caller names it in the log.
  *path = folder + kStartupLinkName;
  return path->size() >= static_cast<size_t>(MAX_PATH) ? LinkPath::kTooLong : LinkPath::kRead;
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

bool ReadInstallDir(Registry& registry, std::string* installDir) {
  RegKey key(registry);
  std::string dir;
  if (key.Open(HKEY_CURRENT_USER, kInstallationKey, KEY_ALL_ACCESS) != ERROR_SUCCESS ||
      key.QueryString("InstallDir", MAX_PATH, &dir) != ERROR_SUCCESS || dir.empty()) {
    return false;
  }
  *installDir = dir;
  return true;
}


bool GetStartupLinkPath(CSetupContext& context, std::string* path) {
  std::string link;
  switch (StartupLinkPathOf(context.machine().registry(), &link)) {
    case LinkPath::kRead:
      *path = link;
      return true;
    case LinkPath::kTooLong:
      context.Log("path too long: %s\n", link.c_str());
      return false;
    case LinkPath::kUnreadable:
      return false;
  }
  return false;
}

bool StartupLinkExists(CSetupContext& context) {
  std::string path;
  if (!GetStartupLinkPath(context, &path)) return false;
  FileSystem& files = context.machine().files();
  UniqueFind search(files);
  FindData found;
  return files.FindFirst(path, search.put(), &found) == ERROR_SUCCESS;
}

HRESULT CComHolder::CreateStartupLink() {
  const std::string description = std::string("Shortcut to ") + kProductProgram;
  std::string installDir;
  if (!ReadInstallDir(machine_.registry(), &installDir)) return E_FAIL;
  // The stored folder ends with a backslash; a second one is not added.
  std::string target = installDir;
  if (!PathCharsOf(machine_.environment()).EndsWithSeparator(target)) target += '\\';
  target += kProductProgram;
  std::string linkPath;
  if (StartupLinkPathOf(machine_.registry(), &linkPath) != LinkPath::kRead) return E_FAIL;
  std::u16string wideLinkPath;
  if (!machine_.environment().AnsiToWide(linkPath, &wideLinkPath)) return E_INVALIDARG;
  return machine_.com().CreateShellLink(target, installDir, description, "AutoStart",
                                        wideLinkPath);
}

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
      (void)settings.SetString("Language_Data", DisplayLanguageName(app().g_languageId));
    }
  }
  // The product runs on by itself; whether it started is not looked at.
  std::string installDir;
  if (app().unattended().StartsProduct(*this) && ReadInstallDir(machine().registry(), &installDir)) {
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

void RemoveEmptiedFolder(CSetupContext& context, const std::string& folder) {
  FileSystem& files = context.machine().files();
  for (int attempt = 0; attempt < 20; ++attempt) {
    DWORD attributes = 0;
    if (files.GetAttributes(folder, &attributes) != ERROR_SUCCESS) return;  // gone
    DWORD rc = files.RemoveDirectory(folder);
    if (rc == ERROR_SUCCESS) return;
    if (rc == ERROR_DIR_NOT_EMPTY) break;  // something the tree walk left: not ours to wait for
    context.machine().environment().Sleep(500);
  }
}
