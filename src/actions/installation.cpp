// The installer steps (run-time libraries, the media player note, Windows
// Installer, the product package), the restart steps and the resume value.
// A child program is started on a timer tick and its exit code read on each
// later tick, so the window keeps painting while it runs.
#include "actions/installation.h"

#include <cstdio>

#include "actions/install_folder.h"
#include "actions/launch.h"
#include "actions/private_folders.h"
#include "actions/user_data.h"
#include "analysis/analysis.h"
#include "analysis/medium_check.h"
#include "platform/sha256.h"
#include "app/context.h"
#include "app/exit_codes.h"
#include "app/unattended.h"
#include "app/step_tables.h"
#include "lang/language_strings.h"
#include "ui/setup_window.h"

namespace {

const char kInstallerArguments[] = "/q /r:n";
constexpr int kEnglishUk = 2057;
constexpr int kEnglishUs = 1033;

// A started program becomes the context's watched child; `error` is the
// start's result, passed through.
DWORD WatchChild(CSetupContext& context, DWORD error, LaunchedProcess* launched) {
  if (error == ERROR_SUCCESS) {
    context.childProcess = std::move(launched->process);
    context.childRunning = 1;
  }
  return error;
}

// The copy of a redistributable and its folder go once it has ended; a copy
// Windows will not delete yet goes when Windows next starts.
void RemoveInstallerCopy(CSetupContext& context) {
  if (context.installerCopy.empty()) return;
  FileSystem& files = context.machine().files();
  const std::string copy = context.installerCopy;
  const std::string folder = copy.substr(0, copy.rfind('\\'));
  context.installerCopy.clear();
  if (DeleteMadeFile(files, copy) == ERROR_SUCCESS ||
      DeleteMadeFileAtRestart(files, copy) == ERROR_SUCCESS) {
    if (files.RemoveDirectory(folder) != ERROR_SUCCESS) (void)files.DeleteAtRestart(folder);
  }
}

// Starts a redistributable of the medium (`name` in the setup's folder) as a
// watched child. It runs from a copy in a new folder of the setup's own, with
// that folder as its current folder: a program loads the libraries beside it
// first, and the package's folder may be one that other users can write (a
// network package unpacked in NT 4.0's C:\TEMP).
DWORD StartInstaller(CSetupContext& context, const char* name) {
  std::string tempFolder, folder;
  if (context.machine().environment().GetTempPath(&tempFolder) != ERROR_SUCCESS ||
      tempFolder.empty() || !MakePrivateFolder(context, tempFolder, "ztrn", &folder)) {
    return ERROR_CANNOT_MAKE;
  }
  const std::string source = context.setupDir + "\\" + name;
  const std::string copy = folder + "\\" + name;
  DWORD rc = context.machine().files().Copy(source, copy, true);
  if (rc != ERROR_SUCCESS) {
    context.Log("%s cannot be copied to %s - error %d\n", source.c_str(), folder.c_str(),
                static_cast<int>(rc));
    (void)context.machine().files().RemoveDirectory(folder);
    return rc;
  }
  context.installerCopy = copy;
  // The medium was checked before the first step; the share may have
  // changed since. What runs is the copy, so the copy is held against the
  // manifest.
  DWORD readError = ERROR_SUCCESS;
  if (!MatchesManifest(context.machine().files(), context.checkedMedium, name, copy, &readError)) {
    context.Log("copy of medium file %s does not match its manifest - not started\n", name);
    RemoveInstallerCopy(context);
    return ERROR_INVALID_DATA;
  }
  context.Log("running a copy of %s\n", source.c_str());
  LaunchedProcess launched;
  rc = WatchChild(context, LaunchProcess(context, copy, kInstallerArguments, &launched, folder),
                  &launched);
  if (rc != ERROR_SUCCESS) RemoveInstallerCopy(context);
  return rc;
}

// Looks at the child once. True when it has ended: it is forgotten, its
// handle closed and its code in *exitCode. False while it runs. Whether it
// runs is asked of its handle, not read from its code: a program may end
// with 259 itself, which is also STILL_ACTIVE, and would be polled forever.
// A child whose state or exit code cannot be read is logged and ends the
// setup with 1603 (nothing tells whether it did its work).
bool ChildEnded(CSetupContext& context, DWORD* exitCode) {
  Processes& processes = context.machine().processes();
  DWORD wait = processes.Wait(context.childProcess.get(), 0);
  if (wait == WAIT_TIMEOUT) return false;
  DWORD code = 0;
  if (wait != WAIT_OBJECT_0 ||
      processes.GetExitCode(context.childProcess.get(), &code) != ERROR_SUCCESS) {
    context.Log("failed to get process status\n");
    context.EndSetup(kExitFailure);
    return false;
  }
  context.childRunning = 0;
  context.childProcess.reset();
  RemoveInstallerCopy(context);
  *exitCode = code;
  return true;
}

// Windows Installer's codes of a run that installed: success, and success
// with a restart still to come.
bool InstallerSucceeded(DWORD exitCode) {
  return exitCode == 0 || InstallerNeedsRestart(exitCode);
}

// The program of the registered product: its Uninstall key exists and the
// registered installation folder is read and not empty.
bool RegisteredProgram(CSetupContext& context, std::string* program) {
  Registry& registry = context.machine().registry();
  {
    RegKey uninstall(registry);
    if (uninstall.Open(HKEY_LOCAL_MACHINE, kProductUninstallKey, KEY_ALL_ACCESS) !=
        ERROR_SUCCESS) {
      return false;
    }
  }
  std::string installDir;
  {
    RegKey installation(registry);
    if (installation.Open(HKEY_CURRENT_USER, kInstallationKey, KEY_ALL_ACCESS) != ERROR_SUCCESS ||
        installation.QueryString("InstallDir", MAX_PATH, &installDir) != ERROR_SUCCESS) {
      return false;
    }
  }
  // An empty folder would name a program relative to the setup's own folder.
  if (installDir.empty()) return false;
  *program = installDir + kProductProgram;
  return true;
}

// The product counts as installed when its Uninstall key exists and the
// program in the registered installation folder has a readable version; the
// installer's exit code alone does not decide it. Logs whether the program
// changed. A run that Windows Installer reports as failed and after which the
// program found before it is still the same installed nothing: the product
// in place is the earlier one.
bool ProductInstalled(CSetupContext& context, DWORD exitCode) {
  std::string program;
  std::string version;
  if (!RegisteredProgram(context, &program) || !PathFits(context, program) ||
      !GetFileVersionString(context.machine(), program, &version)) {
    return false;
  }
  if (version != context.previousExeVersion) {
    context.Log("new Zentavo executable version is %s\n", version.c_str());
  } else {
    context.Log("Zentavo executable has not been updated\n");
    if (!context.previousExeVersion.empty() && !InstallerSucceeded(exitCode)) return false;
  }
  return true;
}

// The version of the product's program registered before the package runs,
// when the analysis did not read it (an earlier edition that was not seen).
void NoteProgramBeforeInstall(CSetupContext& context) {
  if (!context.previousExeVersion.empty()) return;
  std::string program;
  std::string version;
  if (RegisteredProgram(context, &program) && program.size() < static_cast<size_t>(MAX_PATH) &&
      GetFileVersionString(context.machine(), program, &version)) {
    context.previousExeVersion = version;
  }
}

// The texts of a restart that another program refused, with the button that
// tries again. Unattended, nobody would press it: the setup ends instead,
// with `unattendedExitCode`.
void ShowRestartRefused(CSetupContext& context, int unattendedExitCode) {
  if (context.unattended().EndsAtRefusedRestart(context)) {
    context.EndSetup(unattendedExitCode);
    return;
  }
  SetupWindowOps& window = context.window();
  window.SetText(1, CANTREBOOT);
  window.SetText(2, CANTREBOOTHELP);
  window.SetConfirmText(TRYAGAIN);
  window.ShowConfirm(true);
  context.waitForInput = 1;
}

// The code a run ends with when a restart is under way or still to be made:
// 3010 when the restart completes the installation, that is when the resume
// value is in place or the product is installed with the user's data back;
// without either, nothing would complete it after the restart, and the run
// failed. A restart made and one left to the user (/norestart) agree.
int RestartExitCode(CSetupContext& context, bool resumeWritten) {
  if (!resumeWritten) context.Log("the resume value cannot be written\n");
  return resumeWritten || (context.productInstalled && !context.dataWaitsForRestart)
             ? kExitRestartRequired
             : kExitFailure;
}

// A restart is needed but not made (/norestart): the resume value completes
// the installation at the next start of Windows.
void EndWithoutRestart(CSetupContext& context) {
  context.EndSetup(RestartExitCode(context, ScheduleResume(context)));
}

}  // namespace

bool InstallerNeedsRestart(DWORD exitCode) { return exitCode == 3010 || exitCode == 1641; }

DWORD LaunchMsiexec(CSetupContext& context, const std::string& arguments,
                    LaunchedProcess* launched) {
  if (context.systemDir.empty()) {
    context.Log("system folder unknown - Windows Installer not started\n");
    return ERROR_PATH_NOT_FOUND;
  }
  // In the setup's folder: a bare transform name ("1033.mst") then names the
  // medium's transform, also in a run resumed from the Run key, which Windows
  // starts in another folder. With a backslash: "D:" alone would name the
  // current folder of drive D.
  const std::string folder = context.setupDir.empty() ? std::string() : context.setupDir + "\\";
  return LaunchProcess(context, context.systemDir + "\\msiexec.exe", arguments, launched, folder);
}

std::string ResumeCommand(const std::string& setupDir, int nextStep, int languageId,
                          const std::string& switches) {
  char numbers[64];
  snprintf(numbers, sizeof(numbers), " /c %d /l %d", nextStep, languageId);
  return "\"" + setupDir + "\\setup.exe\"" + numbers + switches;
}

bool ScheduleResume(CSetupContext& context) {
  RegKey run(context.machine().registry());
  if (run.Open(HKEY_LOCAL_MACHINE, kRunKeyPath, KEY_ALL_ACCESS) != ERROR_SUCCESS) return false;
  // Data that waits for the restart is put back by the resumed run first.
  const int next = context.dataWaitsForRestart ? kRestoreDataStep : context.currentStep + 1;
  std::string command = ResumeCommand(context.setupDir, next,
                                      context.languageId(),
                                      context.unattended().ResumeSwitches());
  return run.SetString(kResumeValueName, command) == ERROR_SUCCESS;
}

bool RebootSystem(CSetupContext& context, int* refused) {
  OsVersion version;
  context.machine().environment().GetOsVersion(&version);
  if (version.platformId == VER_PLATFORM_WIN32_NT &&
      !EnablePrivilege(context, "SeShutdownPrivilege")) {
    return false;
  }
  context.SetOwnRestartRequested(true);
  DWORD error = context.machine().processes().ExitWindows(EWX_REBOOT, 0);
  *refused = error != ERROR_SUCCESS ? 1 : 0;
  if (*refused) context.SetOwnRestartRequested(false);
  return true;
}

int CSetupContext::InstallRuntime(int /*action*/) {
  if (!childRunning) {
    if (StartInstaller(*this, "vcredist.exe") != ERROR_SUCCESS) {
      Log("failed to launch vcredist setup\n");
      EndSetup(kExitFailure);
    }
    return 0;
  }
  DWORD exitCode = 0;
  if (!ChildEnded(*this, &exitCode)) return 0;
  // The redistributable's exit code is not judged.
  Log("run-time update install complete\n");
  return 1;
}

int CSetupContext::NoteMediaPlayer(int action) {
  if (action == 0) {
    window().SetConfirmText(OK);
    window().ShowConfirm(true);
    window().ShowCancel(false);
    waitForInput = 1;
    return 0;
  }
  if (action == 1) window().ShowConfirm(false);
  return 1;
}

int CSetupContext::InstallMsi(int action) {
  if (action == 0 && !childRunning) {
    window().ShowConfirm(false);
    window().ShowCancel(false);
    if (StartInstaller(*this, isWin9x ? "instmsia.exe" : "instmsiw.exe") != ERROR_SUCCESS) {
      Log("Windows Installer update failed\n");
      EndSetup(kExitFailure);
    }
    return 0;
  }
  if (action == 0) {
    DWORD exitCode = 0;
    if (!ChildEnded(*this, &exitCode)) return 0;
    Log("Windows Installer update complete\n");
    // A first installation of Windows Installer works without a restart.
    if (!msiPresent) return 1;
    if (unattended().DeclinesRestart(*this)) {
      EndWithoutRestart(*this);
      return 0;
    }
    window().SetText(1, REBOOT);
    window().SetText(2, REBOOTHELP);
    window().SetConfirmText(OK);
    window().ShowConfirm(true);
    window().ShowCancel(false);
    waitForInput = 1;
    return 0;
  }
  if (action == 1) {
    bool resumeWritten = ScheduleResume(*this);
    Log("rebooting system\n");
    int refused = 0;
    // With the resume value in place the next restart, whoever makes it,
    // completes the installation; without it the setup simply failed, even
    // when the restart goes ahead.
    const int exitCode = RestartExitCode(*this, resumeWritten);
    if (!RebootSystem(*this, &refused)) {
      Log("could not reboot system\n");
      EndSetup(exitCode);
    } else if (refused) {
      Log("reboot has been denied by another application\n");
      ShowRestartRefused(*this, exitCode);
    } else {
      EndSetup(exitCode);
    }
    return 0;
  }
  if (action == 2) {
    MessageBox(GetText(ABORTINSTALLHELP), MB_OK | MB_ICONINFORMATION);
    EndSetup(kExitUserCancel);
    return 0;
  }
  return 1;
}

int CSetupContext::LaunchProductSetup(int action) {
  if (action == 0 && !childRunning) {
    const int language = languageId();
    int transform = language == kEnglishUk ? kEnglishUs : language;
    char transformPart[64];
    snprintf(transformPart, sizeof(transformPart), "\" TRANSFORMS=\"%d.mst\"", transform);
    std::string arguments = "/i \"" + setupDir + "\\Zentavo.msi" + transformPart +
                            msiExtraProperties + kSuppressRestartProperty +
                            unattended().InstallerUiSwitch();
    window().ShowConfirm(false);
    window().ShowCancel(false);
    // Checked with the whole medium before the first step, minutes ago: the
    // package and its transform are held against the manifest once more
    // right before Windows Installer opens them.
    for (const std::string& name : {std::string("Zentavo.msi"), std::to_string(transform) + ".mst"}) {
      DWORD readError = ERROR_SUCCESS;
      if (!MatchesManifest(machine().files(), checkedMedium, name, setupDir + "\\" + name,
                           &readError)) {
        Log("medium file %s does not match its manifest - not installed\n", name.c_str());
        Log("CreateProcess failed error=%d\n", static_cast<int>(ERROR_INVALID_DATA));
        EndSetup(kExitFailure);
        return 0;
      }
    }
    NoteProgramBeforeInstall(*this);
    NoteProductInstalling(*this);
    // Windows Installer by its full path: a bare name is looked for in the
    // setup's own folder first, where a network package could plant one.
    LaunchedProcess launched;
    DWORD error = WatchChild(*this, LaunchMsiexec(*this, arguments, &launched), &launched);
    if (error != ERROR_SUCCESS) {
      Log("CreateProcess failed error=%d\n", static_cast<int>(error));
      EndSetup(kExitFailure);
    }
    return 0;
  }
  if (action == 0) {
    DWORD exitCode = 0;
    if (!ChildEnded(*this, &exitCode)) return 0;
    // The code is only logged: 3010 or 1603 alone decide nothing.
    Log("Zentavo setup complete - exit code %08xh\n", static_cast<unsigned>(exitCode));
    if (ProductInstalled(*this, exitCode)) {
      productInstalled = 1;
      NoteProductInstalled(*this);
      if (!isWin9x && osMajor < 5) {
        Log("Scheduling forced restart required for NT.\n");
        rebootRequired = 1;
      } else if (InstallerNeedsRestart(exitCode)) {
        // Files in use are replaced when Windows starts again: the restart
        // is asked for once the data is back.
        Log("Windows Installer needs a restart to complete the installation\n");
        rebootRequired = 1;
      }
      return 1;
    }
    Log("Zentavo software install failed\n");
    failureShown = 1;
    waitForInput = 1;
    window().SetConfirmText(OK);
    window().ShowConfirm(true);
    window().ShowCancel(false);
    window().SetText(1, ABORTINSTALL);
    window().SetText(2, ABORTINSTALLHELP);
    return 0;
  }
  if (action == 1) EndSetup(kExitFailure);
  return 0;
}

// The product is installed when this step runs, so every way out of it is a
// restart still to be made.
int CSetupContext::ForcedReboot(int action) {
  if (action == 0) {
    if (unattended().DeclinesRestart(*this)) {
      EndWithoutRestart(*this);
      return 0;
    }
    window().SetConfirmText(OK);
    window().SetCancelText(CANCEL);
    window().ShowConfirm(true);
    window().ShowCancel(true);
    waitForInput = 1;
    return 0;
  }
  if (action == 1) {
    const int exitCode = RestartExitCode(*this, ScheduleResume(*this));
    int refused = 0;
    if (!RebootSystem(*this, &refused)) {
      Log("could not reboot system\n");
      EndSetup(exitCode);
    } else if (refused) {
      ShowRestartRefused(*this, exitCode);
    } else {
      EndSetup(exitCode);
    }
    return 0;
  }
  if (action == 2) {
    MessageBox(GetText(REBOOTFINISHEDABORT), MB_OK | MB_ICONWARNING);
    // The restart the user leaves for later still has to put the data back.
    if (dataWaitsForRestart && ScheduleResume(*this)) {
      Log("the user data is put back when Windows next starts\n");
    }
    EndSetup(kExitRestartRequired);
    return 0;
  }
  return 1;
}
