// The install actions not built yet. Until each arrives, its update step
// finishes at once (the engine logs the step and moves on) and its analysis
// check finds nothing. Each function leaves this file when its subsystem lands.
#include "app/context.h"

// Previous versions.
int CSetupContext::CheckPreviousVersions() { return 1; }
int CSetupContext::RemoveViewOnly(int) { return 1; }
int CSetupContext::RemoveStartupLinks(int) { return 1; }
int CSetupContext::UninstallPrevious(int) { return 1; }
// Running application.
int CSetupContext::ShutDownRunningApp(int) { return 1; }
// Camera.
// Installers, restart and resume.
int CSetupContext::InstallRuntime(int) { return 1; }
int CSetupContext::NoteMediaPlayer(int) { return 1; }
int CSetupContext::InstallMsi(int) { return 1; }
int CSetupContext::LaunchProductSetup(int) { return 1; }
int CSetupContext::ForcedReboot(int) { return 1; }
// User data.
int CSetupContext::PreserveUserData(int) { return 1; }
int CSetupContext::RestoreUserData(int) { return 1; }
// Finishing.
int CSetupContext::FinishSetup(int) { return 1; }
int CSetupContext::CleanUpTempSource(int) { return 1; }
HRESULT CComHolder::CreateStartupLink() { return E_NOTIMPL; }
// Running application: no installer window is looked for yet.
#include "actions/running_app.h"
HWND FindProductSetupWindow(CSetupContext&) { return nullptr; }
// Startup-folder shortcut: none is known yet.
#include "actions/finishing.h"
bool GetStartupLinkPath(CSetupContext&, std::string*) { return false; }
bool StartupLinkExists(CSetupContext&) { return false; }
