#include "ui/sim/recording_screen.h"

#include <algorithm>
#include <cstdio>

#include "platform/sim/sim_codepage.h"

namespace {

void AppendUtf8(char32_t c, std::string* out) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (c >> 6)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (c >> 18)));
    out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

std::string CodePageNote(UINT codePage) {
  return codePage == 0 ? std::string() : ", code page " + std::to_string(codePage);
}

std::string Stamp(uint64_t time) {
  char stamp[64];
  snprintf(stamp, sizeof(stamp), "t=%llu.%03llus", static_cast<unsigned long long>(time / 1000),
           static_cast<unsigned long long>(time % 1000));
  return stamp;
}

std::string ButtonLine(const char* label, bool visible, const std::string& caption,
                       UINT codePage) {
  std::string out = label;
  out += visible ? "[" + ShownText(caption, codePage) + "]" : std::string("(hidden)");
  return out + "\n";
}

}  // namespace

bool ScreenState::operator==(const ScreenState& o) const {
  return windowOpen == o.windowOpen && title == o.title && header == o.header &&
         message == o.message && help == o.help && confirmCaption == o.confirmCaption &&
         cancelCaption == o.cancelCaption && confirmVisible == o.confirmVisible &&
         cancelVisible == o.cancelVisible && packageLine == o.packageLine &&
         codePage == o.codePage && packageLineCodePage == o.packageLineCodePage;
}

std::string StateLabel(const ScreenState& state) {
  ScreenTexts shown = state.ids;
  // A hidden button's caption is not on the screen.
  if (!state.confirmVisible) shown.confirm = kScreenNoText;
  if (!state.cancelVisible) shown.cancel = kScreenNoText;
  const SetupScreen* screen = FindScreen(state.step, shown);
  return screen ? ScreenLabel(*screen) : StepName(state.step);
}

std::string ShownText(const std::string& bytes, UINT codePage) {
  // Every Windows code page keeps the ASCII bytes as they are, so an ASCII
  // text is its own UTF-8: most texts of a rehearsal, whose conversion (and
  // the converter's opening to ask whether the page is known) was a tenth of
  // its time.
  if (std::all_of(bytes.begin(), bytes.end(),
                  [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
    return bytes;
  }
  if (codePage == 0 || !SimCodePage::Supported(codePage)) return bytes;
  std::u16string wide;
  if (!SimCodePage(codePage).ToWide(bytes, &wide)) return bytes;
  std::string out;
  for (size_t i = 0; i < wide.size(); ++i) {
    char32_t c = wide[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
        wide[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (wide[++i] - 0xDC00);
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;
    }
    AppendUtf8(c, &out);
  }
  return out;
}

ScreenEvent ShownInUtf8(const ScreenEvent& event) {
  ScreenEvent shown = event;
  ScreenState& w = shown.window;
  for (std::string* text : {&w.title, &w.header, &w.message, &w.help, &w.confirmCaption,
                            &w.cancelCaption}) {
    *text = ShownText(*text, w.codePage);
  }
  w.packageLine = ShownText(w.packageLine, w.packageLineCodePage);
  w.codePage = w.packageLineCodePage = 0;
  if (shown.kind != ScreenEvent::Kind::Answer) {
    for (std::string* text : {&shown.caption, &shown.text, &shown.selection}) {
      *text = ShownText(*text, shown.codePage);
    }
    for (std::string& entry : shown.entries) entry = ShownText(entry, shown.codePage);
  }
  shown.codePage = 0;
  return shown;
}

std::string MessageBoxIconName(UINT style) {
  switch (style & 0xF0u) {
    case 0x00: return "none";
    case 0x10: return "stop";
    case 0x20: return "question";
    case 0x30: return "warning";
    case 0x40: return "information";
    default: return "icon " + std::to_string((style & 0xF0u) >> 4);
  }
}

std::vector<std::string> MessageBoxButtonNames(UINT style) {
  switch (style & 0x0Fu) {
    case 0: return {"OK"};
    case 1: return {"OK", "Cancel"};
    case 2: return {"Abort", "Retry", "Ignore"};
    case 3: return {"Yes", "No", "Cancel"};
    case 4: return {"Yes", "No"};
    case 5: return {"Retry", "Cancel"};
    case 6: return {"Cancel", "Try Again", "Continue"};
    default: return {"OK"};  // Windows shows an OK button for an unknown set
  }
}

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
  UINT cp = s.codePage;
  std::string out;
  out += "title   : " + ShownText(s.title, cp) + "\n";
  out += "header  : " + ShownText(s.header, cp) + "\n";
  out += "message : " + ShownText(s.message, cp) + "\n";
  out += "help    : " + ShownText(s.help, cp) + "\n";
  out += ButtonLine("confirm : ", s.confirmVisible, s.confirmCaption, cp);
  out += ButtonLine("cancel  : ", s.cancelVisible, s.cancelCaption, cp);
  out += "package : " + ShownText(s.packageLine, s.packageLineCodePage) + "\n";
  return out;
}

std::string RecordingScreen::Render(const ScreenEvent& e) {
  std::string stamp = Stamp(e.time);
  switch (e.kind) {
    case ScreenEvent::Kind::Window: {
      std::string head = "--- setup window, " + stamp + CodePageNote(e.window.codePage);
      if (e.window.packageLineCodePage != e.window.codePage && e.window.windowOpen) {
        head += " (package line " + std::to_string(e.window.packageLineCodePage) + ")";
      }
      if (e.window.windowOpen && e.window.step >= 0) head += ": " + StateLabel(e.window);
      return head + "\n" + Render(e.window);
    }
    case ScreenEvent::Kind::MessageBox: {
      std::string out = "--- message box, " + stamp + CodePageNote(e.codePage);
      if (e.window.windowOpen && e.window.step >= 0) out += ": " + StepName(e.window.step);
      out += "\n";
      out += "caption : " + ShownText(e.caption, e.codePage) + "\n";
      out += "icon    : " + MessageBoxIconName(e.style) + "\n";
      out += "text    : " + ShownText(e.text, e.codePage) + "\n";
      out += "buttons :";
      for (const std::string& button : MessageBoxButtonNames(e.style)) out += " [" + button + "]";
      return out + "\n";
    }
    case ScreenEvent::Kind::LanguageDialog: {
      std::string out = "--- language dialog, " + stamp + CodePageNote(e.codePage) + "\n";
      out += "caption : " + ShownText(e.caption, e.codePage) + "\n";
      for (const std::string& entry : e.entries) {
        out += (entry == e.selection ? "  > " : "    ") + ShownText(entry, e.codePage) + "\n";
      }
      out += "buttons : [OK]\n";
      return out;
    }
    case ScreenEvent::Kind::Answer:
      return "--- answer, " + stamp + ": " + e.text + "\n";
    case ScreenEvent::Kind::NeverShown:
      return "--- " + e.caption + " never shown, created hidden at " + stamp + "\n";
    case ScreenEvent::Kind::End:
      return "--- " + e.caption + ", " + stamp + (e.text.empty() ? "" : ": " + e.text) + "\n";
  }
  return std::string();
}

std::string RecordingScreen::Transcript() const {
  std::string out;
  for (const ScreenEvent& e : events_) out += Render(e);
  return out;
}
