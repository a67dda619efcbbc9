// The recording screen: every state of the setup window, message box and
// language dialog that a simulated run shows, kept for tests and transcripts.
#pragma once

#include <string>
#include <vector>

#include "platform/wintypes.h"

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

  bool operator==(const ScreenState&) const = default;
};

// One entry of the transcript: a window state, or a modal box shown over it.
struct ScreenEvent {
  enum class Kind { Window, MessageBox, LanguageDialog, Answer };
  Kind kind = Kind::Window;
  uint64_t time = 0;  // virtual milliseconds since the run started
  ScreenState window;
  std::string caption;                // message box
  std::string text;                   // message box text, or the answer given
  UINT style = 0;                     // message box style
  std::vector<std::string> entries;   // language dialog, as the sorted list shows them
  std::string selection;              // language dialog preselection
};

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

  // The transcript: one block per change.
  std::string Transcript() const;
  static std::string Render(const ScreenState& state);
  static std::string Render(const ScreenEvent& event);

 private:
  ScreenState current_;
  ScreenState lastCommitted_;
  bool committedOnce_ = false;
  std::vector<ScreenEvent> events_;
};
