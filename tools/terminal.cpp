#include "terminal.h"

#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

namespace {

// One terminal column stands for 7 pixels of the 500-pixel window.
constexpr size_t kInner = 70;       // the window's client width
constexpr size_t kTextWidth = 53;   // title, header and message controls: 370 pixels
constexpr size_t kHelpWidth = 68;   // the help control: 480 pixels

std::vector<std::string> Wrap(const std::string& text, size_t width) {
  std::vector<std::string> lines;
  std::string line;
  std::string word;
  auto flushWord = [&] {
    while (word.size() > width) {
      if (!line.empty()) {
        lines.push_back(line);
        line.clear();
      }
      lines.push_back(word.substr(0, width));
      word.erase(0, width);
    }
    if (word.empty()) return;
    if (line.empty()) {
      line = word;
    } else if (line.size() + 1 + word.size() <= width) {
      line += " " + word;
    } else {
      lines.push_back(line);
      line = word;
    }
    word.clear();
  };
  for (char c : text) {
    if (c == '\n') {
      flushWord();
      lines.push_back(line);
      line.clear();
    } else if (c == ' ' || c == '\r' || c == '\t') {
      flushWord();
    } else {
      word += c;
    }
  }
  flushWord();
  if (!line.empty()) lines.push_back(line);
  return lines;
}

std::string Row(const std::string& text) {
  std::string cut = text.substr(0, kInner);
  return "| " + cut + std::string(kInner - cut.size(), ' ') + " |\n";
}

int ReadKey() {
  if (!isatty(STDIN_FILENO)) {
    int c = getchar();
    return c == EOF ? -1 : c;
  }
  termios saved;
  tcgetattr(STDIN_FILENO, &saved);
  termios raw = saved;
  raw.c_lflag &= ~(ICANON | ECHO);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  tcsetattr(STDIN_FILENO, TCSANOW, &raw);
  unsigned char c = 0;
  ssize_t n = read(STDIN_FILENO, &c, 1);
  tcsetattr(STDIN_FILENO, TCSANOW, &saved);
  return n == 1 ? c : -1;
}

}  // namespace

std::string TerminalScreen::Draw(const ScreenState& s) {
  std::string border = "+" + std::string(kInner + 2, '-') + "+\n";
  std::string out = border;
  out += Row("Zentavo Install");
  out += border;
  if (!s.windowOpen) {
    out += Row("(the setup window is closed)");
    return out + border;
  }
  for (const std::string& line : Wrap(s.title, kTextWidth)) out += Row(line);
  out += Row("");
  out += Row(s.header.substr(0, kTextWidth));
  out += Row(s.message.substr(0, kTextWidth));
  out += Row("");
  std::vector<std::string> help = Wrap(s.help, kHelpWidth);
  for (size_t i = 0; i < 5; ++i) out += Row(i < help.size() ? help[i] : "");
  std::string buttons;
  if (s.confirmVisible) buttons += "      [ " + s.confirmCaption + " ]";
  if (s.cancelVisible) buttons += std::string(buttons.empty() ? 40 : 14, ' ') + "[ " + s.cancelCaption + " ]";
  out += Row(buttons);
  out += Row("    " + s.packageLine);
  return out + border;
}

void TerminalScreen::Show(const ScreenEvent& e) {
  switch (e.kind) {
    case ScreenEvent::Kind::Window:
      out_ << "\x1b[2J\x1b[H" << Draw(e.window) << std::flush;
      break;
    case ScreenEvent::Kind::MessageBox: {
      out_ << "\n  [" << e.caption << "] (" << MessageBoxIconName(e.style) << ") " << e.text
           << "\n ";
      for (const std::string& button : MessageBoxButtonNames(e.style)) out_ << " [ " << button << " ]";
      out_ << "  (Enter: the default button, Esc: cancel)\n" << std::flush;
      break;
    }
    case ScreenEvent::Kind::LanguageDialog:
      out_ << "\x1b[2J\x1b[H" << e.caption << " - choose the installation language\n";
      for (size_t i = 0; i < e.entries.size(); ++i) {
        out_ << "  " << (i + 1) << ") " << e.entries[i]
             << (e.entries[i] == e.selection ? "   <- selected" : "") << "\n";
      }
      out_ << "Enter: OK   1-" << e.entries.size() << ": choose   Esc: close\n" << std::flush;
      break;
    case ScreenEvent::Kind::Answer:
      break;
    case ScreenEvent::Kind::NeverShown:
    case ScreenEvent::Kind::End:
      out_ << RecordingScreen::Render(e) << std::flush;
      break;
  }
}

std::optional<Answer> TerminalAnswers::Next(const RecordingScreen& screen) {
  if (next_ < first_.size()) return first_[next_++];
  const ScreenEvent* dialog = nullptr;
  if (!screen.events().empty() &&
      screen.events().back().kind == ScreenEvent::Kind::LanguageDialog) {
    dialog = &screen.events().back();
  }
  for (;;) {
    int key = ReadKey();
    if (key < 0) return std::nullopt;
    if (key == '\n' || key == '\r') return Answer{Answer::Kind::Confirm, 0};
    if (key == 27 || key == 'c') return Answer{Answer::Kind::Cancel, 0};
    if (key == 'q') return Answer{Answer::Kind::Close, 0};
    if (dialog && key >= '1' && key <= '9') {
      size_t index = static_cast<size_t>(key - '1');
      int id = index < dialog->entries.size() ? LanguageIdOf(dialog->entries[index]) : 0;
      if (id != 0) return Answer{Answer::Kind::Language, id};
    }
  }
}
