// Running the installers of the update sequence (the run-time libraries,
// Windows Installer, the product's own package), restarting Windows in the
// middle or at the end of an installation, and resuming after the restart.
#pragma once

#include <string>

#include "actions/launch.h"
#include "platform/wintypes.h"

class CSetupContext;

// The Run-key value that starts the setup again after a restart.
inline constexpr char kRunKeyPath[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr char kResumeValueName[] = "ZenSetupSetup";

// The command the Run value holds: the setup program in quotes (a setup
// folder with a space must not make Windows start "C:\Program.exe"), the
// update step to continue with, the language, and the unattended switches
// of the run (CUnattended::ResumeSwitches, with their leading space).
std::string ResumeCommand(const std::string& setupDir, int nextStep, int languageId,
                          const std::string& switches = std::string());

// The property every Windows Installer command line of the setup carries.
// Without it, Windows Installer run without its dialogs restarts Windows by
// itself at the end of a run that needs a restart (files in use), ending the
// setup that waits for it before anything resumes; with it, the run ends
// with 3010 and the setup makes the restart itself, at the end.
inline constexpr char kSuppressRestartProperty[] = " REBOOT=ReallySuppress";

// Windows Installer's codes of a run that did its work and needs a restart
// to complete it (ERROR_SUCCESS_REBOOT_REQUIRED, _INITIATED).
bool InstallerNeedsRestart(DWORD exitCode);

// Starts Windows Installer by its full path in the system folder with these
// arguments. An unknown system folder is refused (logged) with
// ERROR_PATH_NOT_FOUND: "\msiexec.exe" would name a file at the root of the
// current drive.
DWORD LaunchMsiexec(CSetupContext& context, const std::string& arguments,
                    LaunchedProcess* launched);

// Writes the resume value for the step after the current one. Silent: a
// restart goes ahead without it. True when the value was written.
bool ScheduleResume(CSetupContext& context);

// Asks Windows to restart. On the NT family the shutdown privilege is
// enabled first; when that fails (logged by EnablePrivilege) nothing is
// asked and the result is false. Otherwise true, with *refused set when
// ExitWindowsEx turned the request down. While the request is made the
// setup's own end-of-session handler lets the restart through; a refused
// request clears that again.
bool RebootSystem(CSetupContext& context, int* refused);
