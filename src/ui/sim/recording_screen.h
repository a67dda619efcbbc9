// The recording screen: every state of the setup window, message box and
// language dialog that a simulated run shows, kept for tests and transcripts.
// Texts are kept as the bytes the setup gave; each state also names the code
// page Windows shows them in, and the transcript shows them that way.
#pragma once

#include <string>
#include <vector>

#include "platform/wintypes.h"
#include "ui/screens.h"

struct ScreenState {
  bool windowOpen = false;
  std::string title;
  std::string header;   // slot 0
  std::string message;  // slot 1
  std::string help;     // slot 2
  std::string confirmCaption;
  std::string cancelCaption;
  bool confirmVisible = false;
  bool cancelVisible = false;
  std::string packageLine;
  // The code pages the texts are shown in (0: not known, the bytes as they
  // are): the styled controls' character set, and the package line's
  // default character set (the system's code page).
  UINT codePage = 0;
  UINT packageLineCodePage = 0;
  // The step that put the texts and their string ids (a text of the setup's
  // own in the message line has none): what names the state in the
  // transcript. Not part of what the screen shows, so not compared.
  int step = -1;
  ScreenTexts ids;

  // What the user sees: the texts, the buttons and the code pages.
  bool operator==(const ScreenState& other) const;
};

// One entry of the transcript: a window state, or a modal box shown over it;
// or, for a window that was never shown (a quiet installation), a note that
// it existed hidden from `time` on, its name in `caption`; or the end of the
// run, "exit code N" or "stopped" in `caption` and why in `text`.
struct ScreenEvent {
  enum class Kind { Window, MessageBox, LanguageDialog, Answer, NeverShown, End };
  Kind kind = Kind::Window;
  uint64_t time = 0;  // virtual milliseconds since the run started
  ScreenState window;
  std::string caption;                // message box, language dialog
  std::string text;                   // message box text, or the answer given
  UINT style = 0;                     // message box style: its icon and buttons
  std::vector<std::string> entries;   // language dialog, as the sorted list shows them
  std::string selection;              // language dialog preselection
  UINT codePage = 0;                  // message box, language dialog: as ScreenState
};

// A message box's icon ("stop", "question", "warning", "information", or
// "none") and its buttons ("OK", "Cancel", ...) from its style.
std::string MessageBoxIconName(UINT style);
std::vector<std::string> MessageBoxButtonNames(UINT style);
// The bytes as Windows shows them in that code page, in UTF-8 (a sequence
// the code page lacks shows as its default character); 0 keeps the bytes.
std::string ShownText(const std::string& bytes, UINT codePage);
// "step 2 WELCOMEMSG: greeting", or the step alone when its texts are not
// one of the setup's screens (a state between two of them).
std::string StateLabel(const ScreenState& state);
// The event with its texts as shown, in UTF-8 (and its code pages 0).
ScreenEvent ShownInUtf8(const ScreenEvent& event);

class RecordingScreen {
 public:
  const ScreenState& current() const { return current_; }
  ScreenState& mutableCurrent() { return current_; }
  // Records the current window state when it differs from the last one recorded.
  void Commit(uint64_t time);
  void Record(ScreenEvent event) { events_.push_back(std::move(event)); }
  const std::vector<ScreenEvent>& events() const { return events_; }

  // The window states only, in order.
  std::vector<ScreenState> WindowStates() const;
  // True when some recorded window state has this header (and, when given, message).
  bool Showed(const std::string& header, const std::string& message = std::string()) const;

  // The transcript, in UTF-8: one block per change, each naming the code
  // page its texts are shown in.
  std::string Transcript() const;
  static std::string Render(const ScreenState& state);
  static std::string Render(const ScreenEvent& event);

 private:
  ScreenState current_;
  ScreenState lastCommitted_;
  bool committedOnce_ = false;
  std::vector<ScreenEvent> events_;
};
