// Every screen the setup window can show: each step of the update table with
// its own texts, each row of the analysis, and the questions and failures
// the step handlers put up, with the message boxes of the steps. The text
// fit check of the Windows stage measures these screens in every language,
// the contact sheets show them, and the rehearsal's transcript names each
// window state by the screen it is.
#pragma once

#include <string>
#include <vector>

#include "platform/wintypes.h"

// The string ids a screen shows; kScreenNoText leaves a slot empty or a
// button hidden.
inline constexpr int kScreenNoText = -1;
struct ScreenTexts {
  int header = kScreenNoText;
  int message = kScreenNoText;
  int help = kScreenNoText;
  int confirm = kScreenNoText;
  int cancel = kScreenNoText;
  bool operator==(const ScreenTexts&) const = default;
};

struct SetupScreen {
  int step;          // the row of the update table
  std::string name;  // "progress", "greeting", "analysis CHECKRAM", ...
  ScreenTexts texts;
};

// A message box a step shows over the window; `listsFiles` boxes show the
// text, a colon and the names of the files concerned.
struct MessageBoxScreen {
  int step;
  std::string name;
  int textId;
  bool listsFiles;
  UINT style;
};

// "step 2 WELCOMEMSG": the row and the key name of its header.
std::string StepName(int step);
// "step 2 WELCOMEMSG: greeting".
std::string ScreenLabel(const SetupScreen& screen);
std::string ScreenLabel(const MessageBoxScreen& box);

// The screens in step order. The headers and help texts come from the update
// table, the analysis's message lines from the analysis table.
const std::vector<SetupScreen>& SetupScreens();
const std::vector<MessageBoxScreen>& MessageBoxScreens();

// The screen of this step with these texts, or null (a state between two
// screens, or a text of the setup's own in the message line).
const SetupScreen* FindScreen(int step, const ScreenTexts& texts);
