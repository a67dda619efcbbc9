// The setup context: the one object every step handler works on. Its fields
// are the findings of the analysis and the state of the update sequence;
// the handlers of every subsystem are its member operations, each defined in
// the source file of its subsystem. What a handler reaches of the
// application (its machine, log, window, texts, message boxes, unattended
// answers) is defined with the application (setup_app.cpp), so that the
// handlers need not know it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "analysis/medium_check.h"

#include "app/log.h"
#include "platform/machine.h"
#include "platform/owners.h"

class CSetupApp;
class CUnattended;
class SetupWindowOps;
struct AnalysisStep;

// The object whose life brackets COM on the main thread; it also makes the
// product's Startup-folder shortcut.
class CComHolder {
 public:
  explicit CComHolder(Machine& machine);
  ~CComHolder();
  CComHolder(const CComHolder&) = delete;
  CComHolder& operator=(const CComHolder&) = delete;
  HRESULT CreateStartupLink();

 private:
  Machine& machine_;
};

class CSetupContext {
 public:
  explicit CSetupContext(CSetupApp& app);
  virtual ~CSetupContext();
  CSetupContext(const CSetupContext&) = delete;
  CSetupContext& operator=(const CSetupContext&) = delete;

  // ---- Step engine ----
  int RunUpdateStep(int action);
  int RunAnalysisStep(int action);
  int ShowGreeting(int action);
  int ConfirmAbort(int action);
  int ContinueStep(int action);

  // ---- System profile ----
  int CheckOsVersion();
  int CheckRam();
  int CheckPrerequisites(int action);
  // ---- Package description ----
  void ReadPackageInfo();
  std::string FormatPackageDescription() const;
  // ---- Component version checks ----
  int CheckMsi();
  int CheckRuntimeLibraries();
  int CheckMediaPlayer();
  int PassCheck();
  // ---- Previous versions ----
  int CheckPreviousVersions();
  int RemoveViewOnly(int action);
  int RemoveStartupLinks(int action);
  int UninstallPrevious(int action);
  // ---- Running application ----
  int ShutDownRunningApp(int action);
  // ---- Camera ----
  int ConfirmCameraOff(int action);
  // ---- Installers, restart and resume ----
  int InstallRuntime(int action);
  int NoteMediaPlayer(int action);
  int InstallMsi(int action);
  int LaunchProductSetup(int action);
  int ForcedReboot(int action);
  // ---- User data ----
  int PreserveUserData(int action);
  int RestoreUserData(int action);
  // ---- Finishing ----
  int FinishSetup(int action);
  int CleanUpTempSource(int action);

  // ---- What handlers use ----
  CSetupApp& app() const { return app_; }
  Machine& machine() const;
  CInstallLog& log() const;
  void Log(const char* format, ...) ZT_PRINTF(2, 3);
  // The setup window's operations (the application's m_pSetupWnd).
  SetupWindowOps& window() const;
  // Ends the setup with this process exit code (app/exit_codes.h).
  void EndSetup(int exitCode);
  // Text of a string id in the current language.
  std::string GetText(int stringId) const;
  // The current language (CSetupApp::g_languageId).
  int languageId() const;
  // A message box of the application (CSetupApp::MessageBox).
  int MessageBox(const std::string& text, UINT type);
  // The run's unattended switches and the answers they give.
  CUnattended& unattended() const;
  // CSetupApp::SetOwnRestartRequested: the setup itself asks Windows to restart.
  void SetOwnRestartRequested(bool requested);

  // ---- Fields, in declaration order ----
  int resumeStep = 0;
  // The row this run was resumed at by /c (0 for a run from the start).
  int resumedAt = 0;
  int currentStep = 0;
  int lastShownStep = -1;
  int analysisIndex = 0;

  DWORD osMajor = 0;
  DWORD osMinor = 0;
  DWORD osBuild = 0;
  std::string servicePack;
  int isWin9x = 0;
  int isWin98First = 0;
  int isWin98Second = 0;
  int isWinMe = 0;
  int isWinNT4 = 0;
  int isWin2000 = 0;
  int needsRuntimeCheck = 0;
  std::string windowsDir;
  std::string systemDir;

  int previousEdition = 0;
  DWORD previousMajor = 0;
  DWORD previousMinor = 0;
  std::string previousExeVersion;
  std::string previousInstallDir;

  int waitForInput = 0;
  int abortRequested = 0;
  int previousFound = 0;
  int upgradeFound = 0;
  int viewOnlyFound = 0;
  // The user's data is saved and put back: the 2.x edition is upgraded, or
  // an earlier upgrade left saved copies that never came back.
  int userDataToKeep = 0;
  // The folder of this run's copies of the user's data ("ztsv..." in the
  // temporary folder, the setup's own); empty until the first copy.
  std::string saveFolder;

  HWND runningAppWindow = nullptr;
  int childRunning = 0;
  UniqueProcessHandle childProcess;
  // The running redistributable's copy ("ztrn..." in the temporary folder),
  // removed with its folder once it has ended; empty otherwise.
  std::string installerCopy;

  std::string setupDir;

  int msiPresent = 0;
  std::string msiVersion;
  int msiUpdateNeeded = 0;
  std::string msiExtraProperties;

  int rebootRequired = 0;
  // Some of the user's data is put back only after the restart: the resume
  // value then names RESTOREDATA, and even a declined restart writes it.
  int dataWaitsForRestart = 0;
  int runtimeUpdateNeeded = 0;
  std::string mediaPlayerVersion;
  int mediaPlayerUpdateNeeded = 0;

  DWORD ramMB = 0;
  DWORD ramRequiredMB = 0;
  int ramInsufficient = 0;

  std::string packageVersion;
  std::string packageDescription;
  int packageIsCD = 0;
  int packageTargetOS = 0;

  std::unique_ptr<CComHolder> comHolder;
  int startupLinkExisted = 0;
  // The product package ran and the product is registered with its program:
  // from here on, ending the setup is no longer a cancel.
  int productInstalled = 0;
  // A failure screen is shown: closing the window now ends the setup as the
  // failure it is, not as a cancel.
  int failureShown = 0;
  // What start-up changed on the machine with files of the medium ("copied
  // D:\\msxml3.dll to ..."), reported when the medium turns out damaged.
  std::vector<std::string> mediumChanges;
  // The medium's files and digests as its manifest gives them; empty for a
  // medium without a manifest. A copy made from the medium (the components
  // start-up puts into the system folder, the redistributables') is held
  // against them before it is loaded or runs, and the package and its
  // transform again right before Windows Installer starts.
  std::vector<MediumFile> checkedMedium;

  // The analysis table the engine walks; tests may run the engine over a table
  // of their own (same length, ending in a row without handler).
  void UseAnalysisTable(const AnalysisStep* table) { analysisSteps_ = table; }

 private:
  CSetupApp& app_;
  const AnalysisStep* analysisSteps_;
  // The window operations of an unattended run, made on first use.
  mutable std::unique_ptr<SetupWindowOps> buttonlessWindow_;
};
