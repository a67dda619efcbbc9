// setup_driver: answers a running setup.exe as a user would, from outside.
// It finds the setup's windows by class and title, waits until the button it
// is to press is visible and enabled, and presses it with BM_CLICK; it prints
// what each step showed (header, message, buttons), so that a failed run
// reads like a description of the screen.
//
//   setup_driver [--timeout SECONDS] ANSWER[,ANSWER...] [ANSWER...]
//
// Answers, taken in order:
//   lang=<id|name>  the language dialog: selects the language by its id
//                   (1033) or its display name ("English US"), presses OK
//   confirm         the setup window's confirm button (Proceed, OK, ...)
//   cancel          the setup window's cancel button
//   ready           waits until a step waits for a button, presses nothing
//                   (a screenshot can be taken then)
//   confirm=<header>, cancel=<header>, ready=<header>: the same, and the step
//                   must show that header (English texts: run with /l 1033
//                   or lang=1033)
//   box             a message box of the setup: presses its default button
//   window=<title>  waits for a visible top-level window with that title
//                   (dialog boxes aside) and prints its class and program
//   close=<title>   asks the windows with that title to close (SC_CLOSE)
//                   and waits until they are gone (none there: nothing to do)
//   end             waits until the setup's windows are gone
//   tab=<confirm|cancel>  presses Tab in the setup window and checks that the
//                   focus is then on that button
//
// With --keys the answers are given from the keyboard, as a user without a
// mouse would: keys typed into the foreground window (SendInput), which
// must be the setup's window, its message box or its language dialog.
// confirm is Return, cancel is Escape, box is Return (the box's default
// button), lang= is Return on the preselected language (the list is set
// first when another one is wanted).
//
// Every answer waits at most --timeout seconds (default 120) for what it
// needs. Exit code 0 when every answer was given, 1 when one timed out or
// did not take (the screen is printed), 2 for a bad command line.
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <functional>
#include <string>
#include <vector>

#include "ui/layout.h"

namespace {

constexpr char kSetupWindowClass[] = "ZentavoSetupWnd";
constexpr char kBackgroundClass[] = "ZentavoBackgroundWnd";
constexpr char kDialogClass[] = "#32770";
constexpr char kLanguageDialogTitle[] = "Zentavo";
constexpr int kLanguageListId = 1000;
constexpr DWORD kPollMilliseconds = 50;

DWORD g_timeoutMilliseconds = 120000;
bool g_keys = false;

// ---- texts ------------------------------------------------------------------

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  int size = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                   nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) {
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(),
                          size, nullptr, nullptr);
  }
  return out;
}

std::wstring TextOf(HWND window) {
  wchar_t text[1024] = {0};
  if (window) ::GetWindowTextW(window, text, 1024);
  return text;
}

std::string ClassOf(HWND window) {
  char name[256] = {0};
  if (window) ::GetClassNameA(window, name, sizeof(name));
  return name;
}

// A text on one line, quoted, for the report.
std::string Quoted(const std::wstring& text) {
  std::string out = "\"";
  for (char c : Utf8(text)) {
    if (c == '\r') continue;
    out += c == '\n' ? ' ' : c;
  }
  return out + "\"";
}

void Say(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

// A message to a window of the setup, answered within a few seconds or
// taken as failed (-1, which is also CB_ERR), so that a hung setup cannot
// hang the driver.
LRESULT Ask(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  DWORD_PTR result = 0;
  if (!::SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, 5000, &result)) {
    return -1;
  }
  return static_cast<LRESULT>(result);
}

bool WaitFor(const std::function<bool()>& condition) {
  DWORD start = ::GetTickCount();
  for (;;) {
    if (condition()) return true;
    if (::GetTickCount() - start > g_timeoutMilliseconds) return false;
    ::Sleep(kPollMilliseconds);
  }
}

// ---- the setup's windows ----------------------------------------------------------

HWND SetupWindow() { return ::FindWindowA(kSetupWindowClass, kSetupWindowTitle); }
HWND Background() { return ::FindWindowA(kBackgroundClass, nullptr); }

bool Usable(HWND window) {
  return window && ::IsWindowVisible(window) && ::IsWindowEnabled(window);
}

// The setup window's static controls in their creation order: title, header,
// message, help (they share one id).
std::vector<HWND> SetupStatics(HWND setup) {
  std::vector<HWND> statics;
  for (HWND child = setup ? ::GetWindow(setup, GW_CHILD) : nullptr; child;
       child = ::GetWindow(child, GW_HWNDNEXT)) {
    if (::GetDlgCtrlID(child) == kStaticControlId) statics.push_back(child);
  }
  return statics;
}

DWORD ProcessOf(HWND window) {
  DWORD process = 0;
  if (window) ::GetWindowThreadProcessId(window, &process);
  return process;
}

struct Found {
  std::vector<HWND> windows;
  std::function<bool(HWND)> accept;
};

BOOL CALLBACK Collect(HWND window, LPARAM data) {
  auto* found = reinterpret_cast<Found*>(data);
  if (found->accept(window)) found->windows.push_back(window);
  return TRUE;
}

std::vector<HWND> TopLevel(std::function<bool(HWND)> accept) {
  Found found{{}, std::move(accept)};
  ::EnumWindows(Collect, reinterpret_cast<LPARAM>(&found));
  return found.windows;
}

bool IsLanguageDialog(HWND window) {
  return ClassOf(window) == kDialogClass && ::GetDlgItem(window, kLanguageListId) != nullptr;
}

HWND LanguageDialog() {
  std::vector<HWND> found = TopLevel([](HWND window) {
    return ::IsWindowVisible(window) && IsLanguageDialog(window) &&
           TextOf(window) == L"Zentavo";
  });
  return found.empty() ? nullptr : found.front();
}

// A message box of the setup: a visible dialog box that is not the language
// dialog, in the setup's process while its windows exist.
HWND MessageBoxOfSetup() {
  DWORD setupProcess = ProcessOf(SetupWindow());
  if (!setupProcess) setupProcess = ProcessOf(Background());
  std::vector<HWND> found = TopLevel([setupProcess](HWND window) {
    return ::IsWindowVisible(window) && ClassOf(window) == kDialogClass &&
           !IsLanguageDialog(window) && (!setupProcess || ProcessOf(window) == setupProcess);
  });
  return found.empty() ? nullptr : found.front();
}

std::vector<HWND> ButtonsOf(HWND dialog) {
  std::vector<HWND> buttons;
  for (HWND child = ::GetWindow(dialog, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
    if (ClassOf(child) == "Button" && ::IsWindowVisible(child)) buttons.push_back(child);
  }
  return buttons;
}

std::string DescribeBox(HWND box) {
  std::string text = "message box " + Quoted(TextOf(box)) + ": " +
                     Quoted(TextOf(::GetDlgItem(box, 0xFFFF))) + ",";
  for (HWND button : ButtonsOf(box)) text += " [" + Utf8(TextOf(button)) + "]";
  return text;
}

// What the setup window shows, as far as a step's press changes it.
struct Screen {
  bool exists = false;
  std::wstring header, message, help;
  bool confirmShown = false, cancelShown = false;
  std::wstring confirm, cancel;
  HWND box = nullptr;

  bool operator==(const Screen&) const = default;
};

Screen Look() {
  Screen screen;
  HWND setup = SetupWindow();
  screen.box = MessageBoxOfSetup();
  if (!setup) return screen;
  screen.exists = true;
  std::vector<HWND> statics = SetupStatics(setup);
  if (statics.size() > 1) screen.header = TextOf(statics[1]);
  if (statics.size() > 2) screen.message = TextOf(statics[2]);
  if (statics.size() > 3) screen.help = TextOf(statics[3]);
  HWND confirm = ::GetDlgItem(setup, kConfirmButtonId);
  HWND cancel = ::GetDlgItem(setup, kCancelButtonId);
  screen.confirmShown = confirm && ::IsWindowVisible(confirm);
  screen.cancelShown = cancel && ::IsWindowVisible(cancel);
  screen.confirm = TextOf(confirm);
  screen.cancel = TextOf(cancel);
  return screen;
}

std::string Describe(const Screen& screen) {
  if (!screen.exists) return "no setup window";
  std::string text = "header " + Quoted(screen.header) + ", message " + Quoted(screen.message) +
                     ", buttons";
  if (screen.confirmShown) text += " [" + Utf8(screen.confirm) + "]";
  if (screen.cancelShown) text += " [" + Utf8(screen.cancel) + "]";
  if (!screen.confirmShown && !screen.cancelShown) text += " none";
  return text;
}

std::string ProgramOf(HWND window) {
  DWORD process = ProcessOf(window);
  HANDLE handle = process ? ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process)
                          : nullptr;
  if (!handle) return "?";
  wchar_t path[MAX_PATH] = {0};
  DWORD size = MAX_PATH;
  std::string result = ::QueryFullProcessImageNameW(handle, 0, path, &size) ? Utf8(path) : "?";
  ::CloseHandle(handle);
  return result;
}

// Everything of interest on the screen, for a failure report.
void PrintScreen() {
  Say("  on the screen:");
  Say("    setup window: " + Describe(Look()));
  if (HWND dialog = LanguageDialog()) Say("    language dialog " + Quoted(TextOf(dialog)));
  for (HWND window : TopLevel([](HWND window) { return ::IsWindowVisible(window) != FALSE; })) {
    std::wstring title = TextOf(window);
    if (title.empty()) continue;
    std::string line = "    window " + Quoted(title) + " class " + ClassOf(window);
    if (ClassOf(window) == kDialogClass && !IsLanguageDialog(window)) line = "    " + DescribeBox(window);
    Say(line);
  }
}

// ---- the keyboard ------------------------------------------------------------------

const char* KeyName(WORD key) {
  switch (key) {
    case VK_RETURN: return "Return";
    case VK_ESCAPE: return "Escape";
    case VK_TAB: return "Tab";
    default: return "?";
  }
}

// Types a key into the foreground window, after checking that the window
// the key is meant for (or a window it owns) is the foreground one.
bool TypeKey(WORD key, HWND meantFor) {
  HWND foreground = nullptr;
  if (!WaitFor([&] {
        foreground = ::GetForegroundWindow();
        return foreground && (foreground == meantFor || ::GetAncestor(foreground, GA_ROOTOWNER) ==
                                                            ::GetAncestor(meantFor, GA_ROOTOWNER));
      })) {
    Say(std::string("  the keys go to ") + (foreground ? Quoted(TextOf(foreground)) + " class " +
                                                             ClassOf(foreground)
                                                       : std::string("no window")) +
        ", not to " + Quoted(TextOf(meantFor)));
    return false;
  }
  INPUT inputs[2] = {};
  for (INPUT& input : inputs) {
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
  }
  inputs[1].ki.dwFlags = KEYEVENTF_KEYUP;
  if (::SendInput(2, inputs, sizeof(INPUT)) != 2) {
    Say("  SendInput failed");
    return false;
  }
  Say(std::string("  typed ") + KeyName(key));
  return true;
}

// The window with the keyboard focus in the thread of `window`.
HWND FocusOfThread(HWND window) {
  GUITHREADINFO info{};
  info.cbSize = sizeof(info);
  DWORD thread = ::GetWindowThreadProcessId(window, nullptr);
  return ::GetGUIThreadInfo(thread, &info) ? info.hwndFocus : nullptr;
}

// ---- the answers ------------------------------------------------------------------

struct LanguageName {
  int id;
  const wchar_t* name;
};
constexpr LanguageName kLanguages[] = {
    {1033, L"English US"}, {2057, L"English UK"}, {1031, L"Deutsch"},
    {1034, L"Espa\u00F1ol"}, {1036, L"Fran\u00E7" L"ais"}, {1040, L"Italiano"},
    {1041, L"Japanese"},   {2070, L"Portugu\u00EAs"},
};

bool AnswerLanguage(const std::wstring& wanted) {
  std::wstring name = wanted;
  for (const LanguageName& language : kLanguages) {
    if (wanted == std::to_wstring(language.id)) name = language.name;
  }
  HWND dialog = nullptr;
  if (!WaitFor([&] {
        dialog = LanguageDialog();
        return dialog && Usable(::GetDlgItem(dialog, IDOK));
      })) {
    Say("  the language dialog did not show");
    return false;
  }
  HWND list = ::GetDlgItem(dialog, kLanguageListId);
  LRESULT count = Ask(list, CB_GETCOUNT, 0, 0);
  std::string offered;
  LRESULT chosen = CB_ERR;
  for (LRESULT i = 0; i < count; ++i) {
    wchar_t text[128] = {0};
    LRESULT length = Ask(list, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0);
    if (length < 0 || length >= 128) continue;
    Ask(list, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
    offered += " [" + Utf8(text) + "]";
    if (name == text) chosen = i;
  }
  LRESULT preselected = Ask(list, CB_GETCURSEL, 0, 0);
  Say("  language dialog: offers" + offered + ", preselected " + std::to_string(preselected));
  if (chosen == CB_ERR) {
    Say("  the list has no " + Quoted(name));
    return false;
  }
  if (preselected != chosen) Ask(list, CB_SETCURSEL, static_cast<WPARAM>(chosen), 0);
  if (Ask(list, CB_GETCURSEL, 0, 0) != chosen) {
    Say("  the language could not be selected");
    return false;
  }
  if (g_keys) {
    if (!TypeKey(VK_RETURN, dialog)) return false;
    Say("  chose " + Quoted(name));
  } else {
    ::PostMessageW(::GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
    Say("  chose " + Quoted(name) + ", pressed [OK]");
  }
  if (!WaitFor([&] { return !::IsWindow(dialog) || !::IsWindowVisible(dialog); })) {
    Say("  the language dialog stayed open");
    return false;
  }
  return true;
}

// Waits until the setup window waits for a press of button `id` (0: either
// button), checks the header when one is expected and presses the button
// unless `press` is false.
bool AnswerButton(int id, const std::wstring& header, bool press) {
  const char* which = id == kConfirmButtonId ? "confirm" : id == kCancelButtonId ? "cancel" : "a";
  HWND button = nullptr;
  // The screen must also be the same as at the poll before, so that a step
  // that is still putting up its texts and buttons is not answered half-way.
  Screen last;
  if (!WaitFor([&] {
        Screen now = Look();
        bool settled = now == last;
        last = now;
        HWND setup = SetupWindow();
        if (!setup || !::IsWindowEnabled(setup) || now.box || !settled) return false;
        button = ::GetDlgItem(setup, id ? id : kConfirmButtonId);
        if (!id && !Usable(button)) button = ::GetDlgItem(setup, kCancelButtonId);
        return Usable(button);
      })) {
    Say(std::string("  the ") + which + " button did not become usable");
    return false;
  }
  Screen before = Look();
  Say("  " + Describe(before));
  if (!header.empty() && before.header != header) {
    Say("  expected the header " + Quoted(header));
    return false;
  }
  if (!press) return true;
  if (g_keys) {
    if (!TypeKey(id == kCancelButtonId ? VK_ESCAPE : VK_RETURN, SetupWindow())) return false;
  } else {
    ::PostMessageW(button, BM_CLICK, 0, 0);
    Say("  pressed [" + Utf8(TextOf(button)) + "]");
  }
  // The press is taken when the window shows something else: other texts,
  // other buttons, a message box, or no window at all.
  if (!WaitFor([&] { return !(Look() == before); })) {
    Say("  the press changed nothing");
    return false;
  }
  return true;
}

bool AnswerBox() {
  HWND box = nullptr;
  if (!WaitFor([&] {
        box = MessageBoxOfSetup();
        return box && !ButtonsOf(box).empty() && Usable(ButtonsOf(box).front());
      })) {
    Say("  no message box showed");
    return false;
  }
  Say("  " + DescribeBox(box));
  // The default button is the one Enter presses.
  LRESULT defaultId = Ask(box, DM_GETDEFID, 0, 0);
  HWND button = HIWORD(defaultId) == DC_HASDEFID ? ::GetDlgItem(box, LOWORD(defaultId)) : nullptr;
  if (!button) button = ButtonsOf(box).front();
  if (g_keys) {
    if (!TypeKey(VK_RETURN, box)) return false;
  } else {
    ::PostMessageW(button, BM_CLICK, 0, 0);
    Say("  pressed [" + Utf8(TextOf(button)) + "]");
  }
  if (!WaitFor([&] { return !::IsWindow(box) || !::IsWindowVisible(box); })) {
    Say("  the message box stayed open");
    return false;
  }
  return true;
}

std::vector<HWND> WindowsTitled(const std::wstring& title) {
  return TopLevel([&](HWND window) {
    return ::IsWindowVisible(window) && ClassOf(window) != kDialogClass &&
           TextOf(window) == title;
  });
}

bool AnswerWindow(const std::wstring& title) {
  std::vector<HWND> found;
  if (!WaitFor([&] { return !(found = WindowsTitled(title)).empty(); })) {
    Say("  no window " + Quoted(title) + " showed");
    return false;
  }
  for (HWND window : found) {
    Say("  window " + Quoted(title) + " class " + ClassOf(window) + " program " +
        ProgramOf(window));
  }
  return true;
}

bool AnswerClose(const std::wstring& title) {
  std::vector<HWND> found = WindowsTitled(title);
  if (found.empty()) {
    Say("  no window " + Quoted(title) + ", nothing to close");
    return true;
  }
  for (HWND window : found) ::PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
  Say("  asked " + std::to_string(found.size()) + " window(s) " + Quoted(title) + " to close");
  if (!WaitFor([&] { return WindowsTitled(title).empty(); })) {
    Say("  the window stayed");
    return false;
  }
  return true;
}

// Tab in the setup window: the focus moves to `which`.
bool AnswerTab(const std::wstring& which) {
  if (!AnswerButton(0, L"", false)) return false;
  HWND setup = SetupWindow();
  HWND button = ::GetDlgItem(setup, which == L"cancel" ? kCancelButtonId : kConfirmButtonId);
  if (!TypeKey(VK_TAB, setup)) return false;
  HWND focus = nullptr;
  if (!WaitFor([&] { return (focus = FocusOfThread(setup)) == button; })) {
    Say("  the focus is on " + (focus ? Quoted(TextOf(focus)) : std::string("no window")) +
        ", not on [" + Utf8(TextOf(button)) + "]");
    return false;
  }
  Say("  the focus is on [" + Utf8(TextOf(button)) + "]");
  return true;
}

bool AnswerEnd() {
  if (!WaitFor([] { return !SetupWindow() && !Background(); })) {
    Say("  the setup's windows stayed");
    return false;
  }
  Say("  the setup's windows are gone");
  return true;
}

// True for an answer of the list above (a value where one is needed).
bool Known(const std::wstring& answer) {
  size_t equals = answer.find(L'=');
  std::wstring verb = answer.substr(0, equals);
  bool hasValue = equals != std::wstring::npos && equals + 1 < answer.size();
  if (verb == L"confirm" || verb == L"cancel" || verb == L"ready") return true;
  if (verb == L"box" || verb == L"end") return equals == std::wstring::npos;
  if (verb == L"tab") return equals != std::wstring::npos && (answer.substr(equals + 1) == L"confirm" ||
                                                                answer.substr(equals + 1) == L"cancel");
  return (verb == L"lang" || verb == L"window" || verb == L"close") && hasValue;
}

bool Answer(const std::wstring& answer) {
  size_t equals = answer.find(L'=');
  std::wstring verb = answer.substr(0, equals);
  std::wstring value = equals == std::wstring::npos ? L"" : answer.substr(equals + 1);
  if (verb == L"lang" && !value.empty()) return AnswerLanguage(value);
  if (verb == L"confirm") return AnswerButton(kConfirmButtonId, value, true);
  if (verb == L"cancel") return AnswerButton(kCancelButtonId, value, true);
  if (verb == L"ready") return AnswerButton(0, value, false);
  if (verb == L"box" && equals == std::wstring::npos) return AnswerBox();
  if (verb == L"window" && !value.empty()) return AnswerWindow(value);
  if (verb == L"close" && !value.empty()) return AnswerClose(value);
  if (verb == L"end" && equals == std::wstring::npos) return AnswerEnd();
  if (verb == L"tab") return AnswerTab(value);
  Say("  unknown answer");
  return false;
}

int Usage() {
  std::fprintf(stderr,
               "usage: setup_driver [--timeout SECONDS] [--keys] ANSWER[,ANSWER...]\n"
               "answers: lang=<id|name> confirm[=<header>] cancel[=<header>] ready[=<header>]\n"
               "         box window=<title> close=<title> end tab=<confirm|cancel>\n");
  return 2;
}

}  // namespace

int main() {
  int argc = 0;
  LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (!argv) return Usage();
  std::vector<std::wstring> answers;
  for (int i = 1; i < argc; ++i) {
    std::wstring argument = argv[i];
    if (argument == L"--timeout" && i + 1 < argc) {
      long seconds = std::wcstol(argv[++i], nullptr, 10);
      if (seconds <= 0 || seconds > 3600) return Usage();
      g_timeoutMilliseconds = static_cast<DWORD>(seconds) * 1000;
      continue;
    }
    if (argument == L"--keys") {
      g_keys = true;
      continue;
    }
    size_t start = 0;
    while (start <= argument.size()) {
      size_t comma = argument.find(L',', start);
      if (comma == std::wstring::npos) comma = argument.size();
      if (comma > start) answers.push_back(argument.substr(start, comma - start));
      start = comma + 1;
    }
  }
  ::LocalFree(argv);
  if (answers.empty()) return Usage();
  for (const std::wstring& answer : answers) {
    if (!Known(answer)) {
      std::fprintf(stderr, "setup_driver: unknown answer %s\n", Utf8(answer).c_str());
      return Usage();
    }
  }

  for (size_t i = 0; i < answers.size(); ++i) {
    Say("[" + std::to_string(i + 1) + "/" + std::to_string(answers.size()) + "] " +
        Utf8(answers[i]));
    if (!Answer(answers[i])) {
      Say("setup_driver: answer " + std::to_string(i + 1) + " (" + Utf8(answers[i]) +
          ") failed");
      PrintScreen();
      return 1;
    }
  }
  Say("setup_driver: all " + std::to_string(answers.size()) + " answers given");
  return 0;
}
