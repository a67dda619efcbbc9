// The terminal screen of `zentavo-sim --interactive`: the setup window drawn
// in text, redrawn on every change, answered with keys.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "ui/sim/sim_front_end.h"

class TerminalScreen {
 public:
  explicit TerminalScreen(std::ostream& out) : out_(out) {}
  void Show(const ScreenEvent& event);
  // The setup window as a framed text block, help wrapped at the control's width.
  static std::string Draw(const ScreenState& state);

 private:
  std::ostream& out_;
};

// Answers read from the keyboard: Enter confirms, Esc (or c) cancels, q closes
// the window, a digit picks a language in the language dialog. Answers given
// with --answers are used first.
class TerminalAnswers : public AnswerSource {
 public:
  TerminalAnswers(TerminalScreen& screen, std::vector<Answer> first)
      : screen_(screen), first_(std::move(first)) {}
  std::optional<Answer> Next(const RecordingScreen& screen) override;

 private:
  TerminalScreen& screen_;
  std::vector<Answer> first_;
  size_t next_ = 0;
};
