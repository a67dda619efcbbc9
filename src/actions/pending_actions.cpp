// The install actions not built yet. Until each arrives, its update step
// finishes at once (the engine logs the step and moves on) and its analysis
// check finds nothing. Each function leaves this file when its subsystem lands.
#include "app/context.h"

// Camera.
// Installers, restart and resume.
int CSetupContext::InstallRuntime(int) { return 1; }
int CSetupContext::NoteMediaPlayer(int) { return 1; }
int CSetupContext::InstallMsi(int) { return 1; }
int CSetupContext::LaunchProductSetup(int) { return 1; }
int CSetupContext::ForcedReboot(int) { return 1; }
// Finishing.
int CSetupContext::FinishSetup(int) { return 1; }
int CSetupContext::CleanUpTempSource(int) { return 1; }
HRESULT CComHolder::CreateStartupLink() { return E_NOTIMPL; }
// Startup-folder shortcut: none is known yet.
#include "actions/finishing.h"
bool GetStartupLinkPath(CSetupContext&, std::string*) { return false; }
bool StartupLinkExists(CSetupContext&) { return false; }
