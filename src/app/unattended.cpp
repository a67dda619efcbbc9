#include "app/unattended.h"

#include "app/context.h"
#include "app/exit_codes.h"
#include "app/log.h"
#include "app/step_tables.h"
#include "lang/language_dlg.h"
#include "lang/language_strings.h"

namespace {

constexpr int kEnglishUs = 1033;

// A message box's text on one log line: its line breaks become spaces.
std::string OneLine(const std::string& text) {
  std::string line = text;
  for (char& c : line) {
    if (c == '\r' || c == '\n' || c == '\t') c = ' ';
  }
  return line;
}

}  // namespace

void CUnattended::SetLogFile(const std::string& path, bool cut) {
  logGiven_ = 1;
  logFile_ = path;
  logCut_ = cut ? 1 : 0;
}

CUnattended::Mode CUnattended::mode() const {
  if (quietGiven_) return Mode::kQuiet;
  if (passiveGiven_) return Mode::kPassive;
  return Mode::kInteractive;
}

std::string CUnattended::LogSwitch() const {
  if (!logGiven_ || !LogPathProblem(logFile_, logCut_ != 0).empty()) return std::string();
  // A usable path holds no double quote, so the quotes keep it whole.
  return "/log \"" + logFile_ + "\"";
}

std::string CUnattended::ResumeSwitches() const {
  std::string switches;
  if (Quiet()) switches += " /quiet";
  if (Passive()) switches += " /passive";
  if (NoRestart()) switches += " /norestart";
  std::string log = LogSwitch();
  if (!log.empty()) switches += " " + log;
  return switches;
}

const char* CUnattended::InstallerUiSwitch() const {
  switch (mode()) {
    case Mode::kQuiet: return " /qn";
    case Mode::kPassive: return " /qb!-";
    case Mode::kInteractive: break;
  }
  return "";
}

void CUnattended::LogMode(CInstallLog& log) const {
  if (Quiet()) log.Log("unattended: quiet installation - nothing is shown\n");
  if (Passive()) log.Log("unattended: passive installation - the progress is shown, nothing waits\n");
  if (NoRestart()) log.Log("unattended: Windows is not restarted (/norestart)\n");
}

int CUnattended::ChooseLanguage(int commandLineLanguage, CLanguageDlg& dialog,
                                CInstallLog& log) const {
  if (commandLineLanguage != 0) {
    log.Log("unattended: language %d from the command line\n", commandLineLanguage);
    return commandLineLanguage;
  }
  // The dialog's own logic, without its window: the system language is read,
  // logged and matched as when the dialog opens, and OK takes the selection.
  dialog.OnInitDialog();
  dialog.OnOK(dialog.Preselection());
  if (dialog.Preselection().empty()) {
    log.Log("unattended: language %d - the system language cannot be read\n",
            dialog.m_nLanguageId);
  } else {
    log.Log("unattended: language %d, the language dialog's choice for this system\n",
            dialog.m_nLanguageId);
  }
  return dialog.m_nLanguageId != 0 ? dialog.m_nLanguageId : kEnglishUs;
}

int CUnattended::AnswerMessageBox(const std::string& text, UINT type, CInstallLog& log) const {
  log.Log("unattended: message box not shown: %s\n", OneLine(text).c_str());
  // Every box of the setup has OK alone, the button Enter presses.
  (void)type;
  return IDOK;
}

int CUnattended::AnswerWait(const CSetupContext& context, int* exitCode, CInstallLog& log) {
  const int step = context.currentStep;
  const int headerId =
      kUpdateSteps[step >= 0 && step < kUpdateStepCount ? step : kLastUpdateStep].headerId;
  if (step == answeredStep_) {
    ++answersAtStep_;
  } else {
    answeredStep_ = step;
    answersAtStep_ = 1;
  }
  if (answersAtStep_ > 1) {
    // The answer did not move the step on; asking again would never end.
    if (headerId == SHUTDOWNZT) {
      log.Log("unattended: Zentavo is still running - ending with %d\n", kExitFailure);
    } else {
      log.Log("unattended: step %d asks again - ending with %d\n", step, kExitFailure);
    }
    *exitCode = kExitFailure;
    return 0;
  }
  switch (headerId) {
    case CHECKPREREQS:
      log.Log("unattended: the system does not meet the requirements - OK\n");
      break;
    case WELCOMEMSG:
      log.Log("unattended: the greeting proceeds\n");
      break;
    case SHUTDOWNZT:
      log.Log("unattended: the running Zentavo is closed\n");
      break;
    case MEDIAPLAYERINSTALL:
      log.Log("unattended: the media player note is acknowledged\n");
      break;
    case INSTALLMSI:
    case REBOOT:
      log.Log("unattended: Windows is restarted without asking\n");
      break;
    case LAUNCHSETUP:
      log.Log("unattended: the product installation failed - OK\n");
      break;
    case COMPLETE:
      log.Log("unattended: the installation is complete - OK\n");
      break;
    default:
      log.Log("unattended: step %d - OK\n", step);
      break;
  }
  return 1;
}

bool CUnattended::GoesOnWithCamera(CSetupContext& context) const {
  if (!Active()) return false;
  context.Log("unattended: the camera is attached - the installation goes on\n");
  return true;
}

bool CUnattended::StartsProduct(CSetupContext& context) const {
  if (Quiet()) {
    context.Log("unattended: the product is not started\n");
    return false;
  }
  if (Passive()) context.Log("unattended: the product is started (/passive)\n");
  return true;
}

bool CUnattended::DeclinesRestart(CSetupContext& context) const {
  if (!NoRestart()) return false;
  context.Log("unattended: a restart is needed and not made (/norestart)\n");
  return true;
}

bool CUnattended::EndsAtRefusedRestart(CSetupContext& context) const {
  if (!Active()) return false;
  context.Log("unattended: Windows refused the restart - the setup ends without trying again\n");
  return true;
}
