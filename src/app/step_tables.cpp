#include "app/step_tables.h"

#include "lang/language_strings.h"

const int kAlwaysTrue = 1;

// Conditions are pointers to members, so the process-wide table binds to
// whichever context runs it; a null condition reads kAlwaysTrue.
const UpdateStep kUpdateSteps[kUpdateStepCount] = {
    {&CallUpdate<&CSetupContext::RunAnalysisStep>, ANALYZE, ANALYZEHELP, nullptr},
    {&CallUpdate<&CSetupContext::CheckPrerequisites>, CHECKPREREQS, CHECKPREREQSHELP, nullptr},
    {&CallUpdate<&CSetupContext::ShowGreeting>, WELCOMEMSG, 0, nullptr},
    {&CallUpdate<&CSetupContext::ConfirmAbort>, ABORTINSTALL, ABORTINSTALLHELP, &CSetupContext::abortRequested},
    {&CallUpdate<&CSetupContext::ContinueStep>, CHECKTEMPDIR, CHECKTEMPDIRHELP, nullptr},
    {&CallUpdate<&CSetupContext::ShutDownRunningApp>, SHUTDOWNZT, SHUTDOWNZTHELP, &CSetupContext::previousFound},
    {&CallUpdate<&CSetupContext::RemoveViewOnly>, REMOVEVIEWONLY, REMOVEVIEWONLYHELP,
     &CSetupContext::viewOnlyFound},
    {&CallUpdate<&CSetupContext::ConfirmCameraOff>, CONFIRMCAMOFF, CONFIRMCAMOFFHELP, nullptr},
    {&CallUpdate<&CSetupContext::RemoveStartupLinks>, REMSTRTUPLINK, REMSTRTUPLINKHELP,
     &CSetupContext::previousFound},
    {&CallUpdate<&CSetupContext::InstallRuntime>, RUNTIMEINSTALL, RUNTIMEINSTALLHELP,
     &CSetupContext::runtimeUpdateNeeded},
    {&CallUpdate<&CSetupContext::NoteMediaPlayer>, MEDIAPLAYERINSTALL, MEDIAPLAYERINSTALLHELP,
     &CSetupContext::mediaPlayerUpdateNeeded},
    {&CallUpdate<&CSetupContext::InstallMsi>, INSTALLMSI, INSTALLMSIHELP, &CSetupContext::msiUpdateNeeded},
    {&CallUpdate<&CSetupContext::PreserveUserData>, PRESERVEDATA, PRESERVEDATAHELP, &CSetupContext::userDataToKeep},
    {&CallUpdate<&CSetupContext::UninstallPrevious>, PREPUPGRADE, PREPUPGRADEHELP, &CSetupContext::upgradeFound},
    {&CallUpdate<&CSetupContext::LaunchProductSetup>, LAUNCHSETUP, LAUNCHSETUPHELP, nullptr},
    {&CallUpdate<&CSetupContext::RestoreUserData>, RESTOREDATA, RESTOREDATAHELP, &CSetupContext::userDataToKeep},
    {&CallUpdate<&CSetupContext::ForcedReboot>, REBOOT, REBOOTFINISHEDHELP, &CSetupContext::rebootRequired},
    {&CallUpdate<&CSetupContext::FinishSetup>, COMPLETE, COMPLETEHELP, nullptr},
    {&CallUpdate<&CSetupContext::CleanUpTempSource>, CLEANUP, 0, nullptr},
    {nullptr, COMPLETE, 0, nullptr},
};

const AnalysisStep kAnalysisSteps[kAnalysisStepCount] = {
    {&CallAnalysis<&CSetupContext::CheckOsVersion>, CHECKOSVER},
    {&CallAnalysis<&CSetupContext::PassCheck>, CHECKPROC},
    {&CallAnalysis<&CSetupContext::CheckRam>, CHECKRAM},
    {&CallAnalysis<&CSetupContext::PassCheck>, CHECKVIDEO},
    {&CallAnalysis<&CSetupContext::PassCheck>, CHECKDISKSPACE},
    {&CallAnalysis<&CSetupContext::CheckMsi>, CHECKMSI},
    {&CallAnalysis<&CSetupContext::CheckRuntimeLibraries>, CHECKRT},
    {&CallAnalysis<&CSetupContext::PassCheck>, CHECKDIRECTX},
    {&CallAnalysis<&CSetupContext::PassCheck>, CHECKMDAC},
    {&CallAnalysis<&CSetupContext::CheckMediaPlayer>, CHECKMEDIAPLAYER},
    {&CallAnalysis<&CSetupContext::PassCheck>, CHECKNETMEETING},
    {&CallAnalysis<&CSetupContext::CheckPreviousVersions>, CHECKZENTAVO},
    {nullptr, ANALYSISCOMPLETE},
};

int ConditionValue(const UpdateStep& step, const CSetupContext& context) {
  return step.condition ? context.*step.condition : kAlwaysTrue;
}
