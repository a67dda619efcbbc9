// The application object: start-up in its three modes, the command line, the
// window chain, the step timer, the end of the Windows session and shutdown.
// One per run; it owns the setup context and every process-wide value of the
// run (the log, the language table, the current language).
#pragma once

#include <memory>
#include <string>

#include "app/context.h"
#include "app/log.h"
#include "app/unattended.h"
#include "lang/language_strings.h"
#include "platform/machine.h"
#include "ui/setup_window.h"

class CMediumCheck;

inline constexpr UINT kStepTimerMs = 200;

class CSetupApp {
 public:
  CSetupApp(Machine& machine, FrontEnd& frontEnd);
  ~CSetupApp();
  CSetupApp(const CSetupApp&) = delete;
  CSetupApp& operator=(const CSetupApp&) = delete;

  // Start-up: true starts the message loop, false ends the process.
  bool InitInstance();
  // Destroys the windows; returns the exit code.
  int ExitInstance();
  // InitInstance, the message loop when it returned true, and ExitInstance.
  int Run();

  void ParseCommandLine(const std::string& commandLine);

  // Window chain and window events, called by the windows of the front end.
  void OnWindowCreated(AppWindow* window);
  void OnWindowDestroyed(AppWindow* window);
  // End of the Windows session: the answer to WM_QUERYENDSESSION (after the
  // default processing agreed), and WM_ENDSESSION.
  bool OnQueryEndSession();
  void OnEndSession(bool ending);
  // Brings the product installer's window or the setup window forward after a
  // click on `clicked`; true when another window was activated.
  bool ActivateSetupWindow(AppWindow* clicked);

  // Step timer and buttons. The timer runs every 200 ms; while the medium
  // check reads its pieces, sooner.
  void StartStepTimer(UINT milliseconds = kStepTimerMs);
  void StopStepTimer();
  void OnStepTimer();
  void OnConfirm();
  void OnCancel();
  // Ends the setup with this process exit code (app/exit_codes.h).
  void EndSetup(int exitCode);
  // Set while the setup itself asks Windows to restart, so that its own
  // session handler lets that restart through instead of refusing it.
  void SetOwnRestartRequested(bool requested) { m_bOwnRestartRequested = requested ? 1 : 0; }

  // Text of a string id in the current language, and a message box captioned
  // with the program file's name.
  std::string GetText(int stringId) const;
  int MessageBox(const std::string& text, UINT type);
  std::string MessageBoxCaption() const;

  Machine& machine() const { return machine_; }
  FrontEnd& frontEnd() const { return frontEnd_; }
  CInstallLog& log() { return log_; }
  CLanguageStrings& strings() { return strings_; }
  CSetupContext& context() { return m_context; }
  // A file of the medium that start-up is about to copy (the components it
  // brings up to date) is checked against the manifest first, unless the
  // check has already passed it. False when it is damaged: the user has
  // been told, and the setup ends without using it (MediumDamaged()).
  bool CheckMediumFilesBeforeUse(const char* const* names, size_t count);
  bool MediumDamaged() const { return m_bMediumDamaged; }
  CUnattended& unattended() { return m_unattended; }
  const CUnattended& unattended() const { return m_unattended; }
  BackgroundWindow* mainWindow() const { return m_pMainWnd.get(); }

 private:
  Machine& machine_;
  FrontEnd& frontEnd_;
  CInstallLog log_;
  CLanguageStrings strings_;

 public:
  // The current language; 0 until the command line or the dialog sets it.
  int g_languageId = 0;

  std::unique_ptr<BackgroundWindow> m_pMainWnd;
  std::unique_ptr<SetupWindow> m_pSetupWndObject;
  SetupWindow* m_pSetupWnd = nullptr;
  CSetupContext m_context;
  UINT_PTR m_nTimerId = 0;
  int m_bTerminating = 0;
  int m_bResume = 0;
  int m_nResumeStep = 0;
  int m_bCleanup = 0;
  std::string m_strCleanupDir;
  int m_bOwnRestartRequested = 0;
  // The clean-up directory reached the end of the parsed command line, so it may be cut.
  int m_bCleanupDirCut = 0;
  HRESULT m_hrCoInitialize = E_FAIL;
  // The unattended switches and the answers they give.
  CUnattended m_unattended;
  // The process exit code, and whether the setup decided it (EndSetup, a
  // refused start-up, the user closing the window).
  int m_nExitCode = 0;
  int m_bExitCodeSet = 0;

 private:
  void SetExitCode(int exitCode);
  // An unattended run answers the engine's wait at once, and the wait an
  // answer may lead to (a refused restart), until the timer runs again or
  // the setup ends.
  void AnswerWait();
  // /?: the switches in a message box (nothing at all with /quiet).
  void ShowUsage();
  // The code when the user closes the setup window: a cancel until the
  // product is installed; afterwards success, or a restart still needed.
  int ClosedWindowExitCode() const;
  // The clean-up copy's lines follow the exit code line that the unattended
  // run which started it wrote last: that line is written once more, so a
  // tool that reads the log's last line still finds the run's exit code.
  void RepeatExitCodeLine();
  // The medium check: start-up reads the manifest and checks the files that
  // start-up itself uses; the step timer checks the rest in pieces before
  // the first step runs. False when the setup must end (it has been told).
  bool BeginMediumCheck();
  bool ContinueMediumCheck();
  // A file of the medium is damaged or unreadable: the log lines, what was
  // already changed with the medium's files, and the message box.
  void ReportDamagedMedium();
  std::unique_ptr<CMediumCheck> m_mediumCheck;
  bool m_bMediumDamaged = false;
};
