#include "ui/screens.h"

#include "app/step_tables.h"
#include "lang/language_strings.h"

namespace {

// The row's own help text, as the engine puts it when the step begins.
constexpr int kRowHelp = -2;

// A question or failure a handler puts on its step's texts: the message
// line, the help text (kRowHelp keeps the row's) and the two buttons.
struct HandlerScreen {
  int step;
  const char* name;
  int message;
  int help;
  int confirm;
  int cancel;
};

constexpr int kNone = kScreenNoText;

// In step order; every other window state of a step is its progress screen
// (the row's header and help, no message, no buttons) or, in the analysis,
// the progress screen with a check's name in the message line.
constexpr HandlerScreen kHandlerScreens[] = {
    {1, "memory too small", INSUFFREQS, INSUFFSYSTEM, OK, kNone},
    {1, "service pack too old", INSUFFREQS, INSUFFSERVPACK, OK, kNone},
    {1, "package for another system", INSUFFREQS, WRONGPACKAGE, OK, kNone},
    {2, "greeting", WELCOMESUB1, WELCOMEHELP1, PROCEED, CANCEL},
    {2, "greeting, upgrade", WELCOMEUPGRADE, WELCOMEUPGRADEHELP, PROCEED, CANCEL},
    {3, "abort question", kNone, kRowHelp, OK, kNone},
    {5, "running product question", ZTRUNNING, ZTRUNNINGHELP, OK, CANCEL},
    {7, "camera question", TURNOFFCAM, TURNCAMOFFMSG, OK, CANCEL},
    {10, "media player note", kNone, kRowHelp, OK, kNone},
    {11, "restart", REBOOT, REBOOTHELP, OK, kNone},
    {11, "restart refused", CANTREBOOT, CANTREBOOTHELP, TRYAGAIN, kNone},
    {14, "installation failed", ABORTINSTALL, ABORTINSTALLHELP, OK, kNone},
    {16, "restart question", kNone, kRowHelp, OK, CANCEL},
    {16, "restart refused", CANTREBOOT, CANTREBOOTHELP, TRYAGAIN, kNone},
    {17, "completion", kNone, kRowHelp, OK, kNone},
};

std::vector<SetupScreen> BuildScreens() {
  std::vector<SetupScreen> screens;
  for (int step = 0; step < kUpdateStepCount; ++step) {
    const UpdateStep& row = kUpdateSteps[step];
    ScreenTexts progress;
    progress.header = row.headerId;
    progress.help = row.helpId != 0 ? row.helpId : kNone;
    if (step == 0) {
      // The analysis shows each check's name in the message line, and the
      // error line while a check fails and is tried again.
      for (const AnalysisStep& check : kAnalysisSteps) {
        ScreenTexts texts = progress;
        texts.message = check.textId;
        screens.push_back({step, std::string("analysis ") + kStringKeys[check.textId], texts});
      }
      ScreenTexts error = progress;
      error.message = ANALYZEERROR;
      screens.push_back({step, "analysis, a check failed", error});
      continue;
    }
    screens.push_back({step, "progress", progress});
    for (const HandlerScreen& asked : kHandlerScreens) {
      if (asked.step != step) continue;
      ScreenTexts texts = progress;
      texts.message = asked.message;
      if (asked.help != kRowHelp) texts.help = asked.help;
      texts.confirm = asked.confirm;
      texts.cancel = asked.cancel;
      screens.push_back({step, asked.name, texts});
    }
  }
  return screens;
}

}  // namespace

std::string StepName(int step) {
  if (step < 0 || step >= kUpdateStepCount) return "step " + std::to_string(step);
  return "step " + std::to_string(step) + " " + kStringKeys[kUpdateSteps[step].headerId];
}

std::string ScreenLabel(const SetupScreen& screen) {
  return StepName(screen.step) + ": " + screen.name;
}

std::string ScreenLabel(const MessageBoxScreen& box) {
  return StepName(box.step) + ": " + box.name;
}

const std::vector<SetupScreen>& SetupScreens() {
  static const std::vector<SetupScreen> screens = BuildScreens();
  return screens;
}

const std::vector<MessageBoxScreen>& MessageBoxScreens() {
  static const std::vector<MessageBoxScreen> boxes = {
      {0, "box: components could not be updated", INITERROR, false, MB_ICONSTOP},
      {5, "box: cancelled", ABORTINSTALLHELP, false, MB_ICONINFORMATION},
      {7, "box: cancelled", ABORTINSTALLHELP, false, MB_ICONINFORMATION},
      {12, "box: data not saved", PRESERVEDATA, true, MB_RETRYCANCEL | MB_ICONWARNING},
      {15, "box: data not restored", RESTOREDATA, true, MB_RETRYCANCEL | MB_ICONWARNING},
      {16, "box: restart left for later", REBOOTFINISHEDABORT, false, MB_OK | MB_ICONWARNING},
  };
  return boxes;
}

const SetupScreen* FindScreen(int step, const ScreenTexts& texts) {
  for (const SetupScreen& screen : SetupScreens()) {
    if (screen.step == step && screen.texts == texts) return &screen;
  }
  return nullptr;
}
