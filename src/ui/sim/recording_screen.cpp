#include "ui/sim/recording_screen.h"

#include <cstdio>

void RecordingScreen::Commit(uint64_t time) {
  if (committedOnce_ && current_ == lastCommitted_) return;
  committedOnce_ = true;
  lastCommitted_ = current_;
  ScreenEvent event;
  event.kind = ScreenEvent::Kind::Window;
  event.time = time;
  event.window = current_;
  events_.push_back(std::move(event));
}

std::vector<ScreenState> RecordingScreen::WindowStates() const {
  std::vector<ScreenState> states;
  for (const ScreenEvent& e : events_) {
    if (e.kind == ScreenEvent::Kind::Window) states.push_back(e.window);
  }
  return states;
}

bool RecordingScreen::Showed(const std::string& header, const std::string& message) const {
  for (const ScreenEvent& e : events_) {
    if (e.kind != ScreenEvent::Kind::Window) continue;
    if (e.window.header == header && (message.empty() || e.window.message == message)) return true;
  }
  return false;
}

std::string RecordingScreen::Render(const ScreenState& s) {
  if (!s.windowOpen) return "(no setup window)\n";
  std::string out;
  out += "title   : " + s.title + "\n";
  out += "header  : " + s.header + "\n";
  out += "message : " + s.message + "\n";
  out += "help    : " + s.help + "\n";
  out += "buttons :";
  if (s.confirmVisible) out += " [" + s.confirmCaption + "]";
  if (s.cancelVisible) out += " [" + s.cancelCaption + "]";
  if (!s.confirmVisible && !s.cancelVisible) out += " (none)";
  out += "\n";
  out += "package : " + s.packageLine + "\n";
  return out;
}

std::string RecordingScreen::Render(const ScreenEvent& e) {
  char stamp[64];
  snprintf(stamp, sizeof(stamp), "t=%llu.%03llus", static_cast<unsigned long long>(e.time / 1000),
           static_cast<unsigned long long>(e.time % 1000));
  switch (e.kind) {
    case ScreenEvent::Kind::Window:
      return std::string("--- setup window, ") + stamp + "\n" + Render(e.window);
    case ScreenEvent::Kind::MessageBox:
      return std::string("--- message box, ") + stamp + "\ncaption : " + e.caption +
             "\ntext    : " + e.text + "\nbuttons : [OK]\n";
    case ScreenEvent::Kind::LanguageDialog: {
      std::string out = std::string("--- language dialog \"Zentavo\", ") + stamp + "\n";
      for (const std::string& entry : e.entries) {
        out += (entry == e.selection ? "  > " : "    ") + entry + "\n";
      }
      out += "buttons : [OK]\n";
      return out;
    }
    case ScreenEvent::Kind::Answer:
      return std::string("--- answer, ") + stamp + ": " + e.text + "\n";
  }
  return std::string();
}

std::string RecordingScreen::Transcript() const {
  std::string out;
  for (const ScreenEvent& e : events_) out += Render(e);
  return out;
}
