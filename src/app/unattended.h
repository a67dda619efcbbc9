// Unattended installation: the switches /quiet (/q), /passive, /norestart
// and /log, and the answers a deployment wants wherever the setup would
// otherwise wait for the user. Every answer is logged as a line of its own
// beginning "unattended: ". The application asks it at its few waiting
// places (the engine's wait, message boxes, the language dialog); the
// handlers whose unattended path differs from any button ask it a narrow
// question of their own.
#pragma once

#include <string>

#include "platform/wintypes.h"

class CInstallLog;
class CLanguageDlg;
class CSetupContext;

class CUnattended {
 public:
  enum class Mode { kInteractive, kPassive, kQuiet };

  // ---- The switches, as the command line gave them ----
  void SetQuiet() { quietGiven_ = 1; }
  void SetPassive() { passiveGiven_ = 1; }
  void SetNoRestart() { noRestart_ = 1; }
  void SetHelpRequested() { helpRequested_ = 1; }
  // /log and its value; `cut` when the value reached the end of a command
  // line that was cut to its working buffer.
  void SetLogFile(const std::string& path, bool cut);

  // /quiet wins over /passive: a line that asks for both shows nothing.
  Mode mode() const;
  bool Active() const { return mode() != Mode::kInteractive; }
  bool Quiet() const { return mode() == Mode::kQuiet; }
  bool Passive() const { return mode() == Mode::kPassive; }
  bool NoRestart() const { return noRestart_ != 0; }
  bool HelpRequested() const { return helpRequested_ != 0; }
  bool LogFileGiven() const { return logGiven_ != 0; }
  const std::string& LogFile() const { return logFile_; }
  bool LogFileCut() const { return logCut_ != 0; }

  // The switches the resume value adds after "/c N /l N", so that the run
  // after the restart stays unattended and logs to the same file:
  // " /quiet", " /passive", " /norestart", " /log "FILE"" (a file only when
  // its path is usable at all); empty for a plain interactive run.
  std::string ResumeSwitches() const;
  // The switch that runs /log into another copy of the setup; empty when
  // none was given or its path is unusable.
  std::string LogSwitch() const;
  // The user interface switch for the product's Windows Installer: " /qn"
  // (quiet), " /qb!-" (passive: progress only, no cancel, no closing box),
  // nothing for an interactive run.
  const char* InstallerUiSwitch() const;

  // Logs the mode at the start of an unattended run.
  void LogMode(CInstallLog& log) const;

  // ---- Answers ----
  // The language without the dialog: the one from /l, else the dialog's
  // preselection (the system's own language), else English US.
  int ChooseLanguage(int commandLineLanguage, CLanguageDlg& dialog, CInstallLog& log) const;
  // A message box that is not shown: its text is logged; the result is OK,
  // the one button of every box the setup shows.
  int AnswerMessageBox(const std::string& text, UINT type, CInstallLog& log) const;
  // The engine waits at its current step: logs the answer and returns the
  // action (1, the confirm button), or 0 when the run must end instead, with
  // *exitCode. A step that waits again after its answer (a running product
  // that does not close) is not answered twice.
  int AnswerWait(const CSetupContext& context, int* exitCode, CInstallLog& log);

  // ---- Narrow questions of the handlers (each logs its answer) ----
  // The camera is attached: true when the installation goes on without
  // asking the user to unplug it.
  bool GoesOnWithCamera(CSetupContext& context) const;
  // The completion step: false when the product is not started (/quiet).
  bool StartsProduct(CSetupContext& context) const;
  // A restart is needed: true when it is not made (/norestart); the step
  // then leaves the resume value and ends with 3010.
  bool DeclinesRestart(CSetupContext& context) const;
  // Windows refused the restart the setup asked for: true when the run ends
  // (with 3010, the resume value in place) instead of offering to try again.
  bool EndsAtRefusedRestart(CSetupContext& context) const;

 private:
  int quietGiven_ = 0;
  int passiveGiven_ = 0;
  int noRestart_ = 0;
  int helpRequested_ = 0;
  int logGiven_ = 0;
  int logCut_ = 0;
  std::string logFile_;
  // The step whose wait was answered last, and how often.
  int answeredStep_ = -1;
  int answersAtStep_ = 0;
};
