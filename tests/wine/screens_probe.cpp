// Looks at a running setup.exe from outside, as the user sees it, and acts
// like the user: finds its windows by class and title, checks their styles,
// sizes, places and controls, and clicks with the mouse. One step per run, so
// that tests/wine/screens.sh can take a screenshot between the steps:
//
//   screens_probe dialog            the language dialog is open and right
//   screens_probe accept-language   clicks its OK button
//   screens_probe greeting          the greeting waits: both windows, all controls
//   screens_probe click-background  a click on the background does not activate it
//   screens_probe cancel            Cancel leads to the abort question (OK only)
//   screens_probe finish            OK there ends the setup: its windows go
//
// Prints one "ok - ..." or "not ok - ..." line per check and exits with 1
// when any check failed.
#include "platform/wintypes.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "ui/layout.h"

namespace {

int g_failures = 0;
// How long a step may take to show on the screen.
constexpr DWORD kWaitMilliseconds = 60000;
constexpr DWORD kPollMilliseconds = 100;

void Check(bool passed, const std::string& what) {
  std::printf("%s - %s\n", passed ? "ok" : "not ok", what.c_str());
  std::fflush(stdout);
  if (!passed) ++g_failures;
}

bool WaitFor(const std::function<bool()>& condition, DWORD milliseconds = kWaitMilliseconds) {
  DWORD start = ::GetTickCount();
  for (;;) {
    if (condition()) return true;
    if (::GetTickCount() - start > milliseconds) return false;
    ::Sleep(kPollMilliseconds);
  }
}

std::string ClassOf(HWND window) {
  char name[256] = {0};
  ::GetClassNameA(window, name, sizeof(name));
  return name;
}

std::string TextOf(HWND window) {
  char text[1024] = {0};
  ::GetWindowTextA(window, text, sizeof(text));
  return text;
}

DWORD StyleOf(HWND window) { return static_cast<DWORD>(::GetWindowLongPtrA(window, GWL_STYLE)); }
DWORD ExStyleOf(HWND window) {
  return static_cast<DWORD>(::GetWindowLongPtrA(window, GWL_EXSTYLE));
}

bool Has(DWORD style, DWORD bits) { return (style & bits) == bits; }

std::string Describe(const RECT& r) {
  char text[96];
  std::snprintf(text, sizeof(text), "(%ld, %ld, %ld, %ld)", static_cast<long>(r.left),
                static_cast<long>(r.top), static_cast<long>(r.right), static_cast<long>(r.bottom));
  return text;
}

bool SameRect(const RECT& a, const RECT& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

RECT WindowRect(HWND window) {
  RECT rect{};
  ::GetWindowRect(window, &rect);
  return rect;
}

// A child's rectangle in its parent's client coordinates.
RECT RectInParent(HWND child) {
  RECT rect = WindowRect(child);
  ::MapWindowPoints(nullptr, ::GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

RECT WorkArea() {
  RECT area{};
  if (!::SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0)) {
    area.right = ::GetSystemMetrics(SM_CXSCREEN);
    area.bottom = ::GetSystemMetrics(SM_CYSCREEN);
  }
  return area;
}

bool CentredIn(const RECT& inner, const RECT& outer) {
  long dx = (inner.left + inner.right) - (outer.left + outer.right);
  long dy = (inner.top + inner.bottom) - (outer.top + outer.bottom);
  return std::labs(dx) <= 2 && std::labs(dy) <= 2;
}

// A real click: the cursor moves there and the left button goes down and up.
void ClickAt(int x, int y) {
  ::SetCursorPos(x, y);
  INPUT inputs[2];
  std::memset(inputs, 0, sizeof(inputs));
  inputs[0].type = INPUT_MOUSE;
  inputs[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
  inputs[1].type = INPUT_MOUSE;
  inputs[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
  ::SendInput(2, inputs, sizeof(INPUT));
}

void ClickCentreOf(HWND window) {
  RECT rect = WindowRect(window);
  ClickAt((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
}

HWND FindLanguageDialog() { return ::FindWindowA("#32770", "Zentavo"); }
HWND FindBackground() { return ::FindWindowA("ZentavoBackgroundWnd", "Zentavo Install"); }
HWND FindOverlay() {
  HWND background = FindBackground();
  return background ? ::FindWindowExA(background, nullptr, "ZentavoOverlayWnd", "Zentavo Install")
                    : nullptr;
}
HWND FindSetupWindow() { return ::FindWindowA("ZentavoSetupWnd", "Zentavo Install"); }

HWND SetupButton(int id) {
  HWND setup = FindSetupWindow();
  return setup ? ::GetDlgItem(setup, id) : nullptr;
}

bool Visible(HWND window) { return window && ::IsWindowVisible(window); }

// ---- the language dialog ------------------------------------------------------

struct LanguageEntry {
  const char* code;
  const char* name;
};

// The entry the dialog preselects for the system language of this prefix.
std::string ExpectedPreselection(bool* japanese) {
  static const LanguageEntry kEntries[] = {
      {"0411", "Japanese"},         {"0409", "English US"}, {"0809", "English UK"},
      {"0407", "Deutsch"},          {"040A", "Espa\xF1ol"}, {"040C", "Fran\xE7" "ais"},
      {"0410", "Italiano"},         {"0816", "Portugu\xEAs"},
  };
  char code[5] = {0};
  *japanese = false;
  if (!::GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_ILANGUAGE, code, sizeof(code))) return "";
  for (const LanguageEntry& entry : kEntries) {
    if (_stricmp(code, entry.code) == 0) {
      *japanese = std::strcmp(entry.code, "0411") == 0;
      return entry.name;
    }
  }
  return "English US";
}

// The entry's text in code page 1252, read as UTF-16 (the ANSI form of the
// request does not cross process boundaries intact under Wine).
std::string ComboText(HWND combo, LRESULT index) {
  LRESULT length = ::SendMessageW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length == CB_ERR || length < 0) return "";
  std::vector<wchar_t> text(static_cast<size_t>(length) + 1, L'\0');
  ::SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(index),
                 reinterpret_cast<LPARAM>(text.data()));
  text.back() = L'\0';
  char narrow[256] = {0};
  ::WideCharToMultiByte(1252, 0, text.data(), -1, narrow, sizeof(narrow) - 1, nullptr, nullptr);
  return narrow;
}

void CheckLanguageDialog() {
  HWND dialog = nullptr;
  Check(WaitFor([&] { return (dialog = FindLanguageDialog()) != nullptr && Visible(dialog); }),
        "the language dialog \"Zentavo\" is shown");
  if (!dialog) return;
  DWORD style = StyleOf(dialog);
  Check(Has(style, WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME) && !(style & WS_CHILD),
        "the dialog is a modal frame with caption and system menu");
  Check(::GetWindow(dialog, GW_OWNER) == nullptr, "the dialog has no owner");
  Check(CentredIn(WindowRect(dialog), WorkArea()),
        "the dialog is centred on the screen " + Describe(WindowRect(dialog)));

  HWND ok = ::GetDlgItem(dialog, IDOK);
  HWND list = ::GetDlgItem(dialog, 1000);
  Check(ok && ClassOf(ok) == "Button" && TextOf(ok) == "OK" &&
            (StyleOf(ok) & BS_TYPEMASK) == BS_DEFPUSHBUTTON && Has(StyleOf(ok), WS_TABSTOP),
        "OK is the default push button with id 1");
  // The combo box hands its scroll bar to its list, so WS_VSCROLL is not
  // looked for on the combo box itself.
  Check(list && _stricmp(ClassOf(list).c_str(), "ComboBox") == 0 &&
            (StyleOf(list) & 3) == CBS_DROPDOWNLIST && Has(StyleOf(list), CBS_SORT | WS_TABSTOP),
        "the language list 1000 is a sorted drop-down list");
  if (!list || !ok) return;
  RECT listRect = RectInParent(list);
  RECT okRect = RectInParent(ok);
  Check(listRect.right < okRect.left, "the list stands left of the OK button");
  HWND first = ::GetWindow(dialog, GW_CHILD);
  Check(first == ok, "the OK button is the first control (tab order)");

  bool japanese = false;
  std::string expected = ExpectedPreselection(&japanese);
  std::vector<std::string> sorted = {"Deutsch", "English UK", "English US", "Espa\xF1ol",
                                     "Fran\xE7" "ais", "Italiano"};
  if (japanese) sorted.push_back("Japanese");
  sorted.push_back("Portugu\xEAs");
  LRESULT count = ::SendMessageA(list, CB_GETCOUNT, 0, 0);
  Check(count == static_cast<LRESULT>(sorted.size()),
        "the list offers " + std::to_string(sorted.size()) + " languages");
  bool inOrder = count == static_cast<LRESULT>(sorted.size());
  for (LRESULT i = 0; inOrder && i < count; ++i) {
    inOrder = ComboText(list, i) == sorted[static_cast<size_t>(i)];
  }
  Check(inOrder, "the languages show sorted by their own names");
  LRESULT selected = ::SendMessageA(list, CB_GETCURSEL, 0, 0);
  std::string selectedText = selected == CB_ERR ? "" : ComboText(list, selected);
  Check(selectedText == expected, "the system language is preselected: \"" + selectedText + "\"");
}

void AcceptLanguage() {
  HWND dialog = FindLanguageDialog();
  Check(dialog != nullptr, "the language dialog is there to accept");
  if (!dialog) return;
  ClickCentreOf(::GetDlgItem(dialog, IDOK));
  Check(WaitFor([] { return FindLanguageDialog() == nullptr; }),
        "a click on OK closes the language dialog");
}

// ---- the greeting ----------------------------------------------------------

bool FlashRegistered() {
  HKEY key = nullptr;
  LONG rc = ::RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID\\{D27CDB6E-AE6D-11CF-96B8-444553540000}", 0,
                            KEY_READ, &key);
  if (rc == ERROR_SUCCESS) ::RegCloseKey(key);
  return rc == ERROR_SUCCESS;
}

void CheckBackground(HWND background) {
  DWORD style = StyleOf(background);
  Check(Has(style, WS_POPUP | WS_VISIBLE) && !(style & (WS_CAPTION | WS_THICKFRAME | WS_CHILD)),
        "the background window is a plain visible popup");
  RECT desktop = WindowRect(::GetDesktopWindow());
  Check(SameRect(WindowRect(background), desktop),
        "the background covers the screen " + Describe(WindowRect(background)));

  HWND movie = ::FindWindowExA(background, nullptr, "ZentavoControlSite", nullptr);
  if (FlashRegistered()) {
    RECT client{};
    ::GetClientRect(background, &client);
    Check(Visible(movie) && ::GetDlgCtrlID(movie) == 100 && SameRect(RectInParent(movie), client),
          "the movie control (id 100) fills the background");
  } else {
    Check(movie == nullptr, "without a registered Flash control there is no movie window");
  }

  HWND overlay = FindOverlay();
  Check(Visible(overlay), "the overlay window is shown");
  if (overlay) {
    Check((ExStyleOf(overlay) & WS_EX_TRANSPARENT) != 0, "the overlay is transparent");
    Check(Has(StyleOf(overlay), WS_CHILD) && ::GetParent(overlay) == background,
          "the overlay is a child of the background");
    RECT client{};
    ::GetClientRect(background, &client);
    Check(SameRect(RectInParent(overlay), client),
          "the overlay covers the background's client area " + Describe(RectInParent(overlay)));
    POINT corner{4, 4};
    Check(::WindowFromPoint(corner) == overlay, "a point on the background hits the overlay");
    Check(::GetWindow(background, GW_CHILD) == overlay, "the overlay lies above the movie");
  }
}

void CheckSetupWindow(HWND setup, HWND background) {
  DWORD style = StyleOf(setup);
  Check(Has(style, WS_POPUP | WS_DLGFRAME | WS_VISIBLE) &&
            !(style & (WS_BORDER | WS_SYSMENU | WS_CHILD | WS_THICKFRAME)),
        "the setup window is a visible popup with a dialog frame and no caption");
  RECT rect = WindowRect(setup);
  Check(rect.right - rect.left == kSetupWindowWidth && rect.bottom - rect.top == kSetupWindowHeight,
        "the setup window measures 500 x 280 " + Describe(rect));
  Check(::GetWindow(setup, GW_OWNER) == background, "the background owns the setup window");
  Check(CentredIn(rect, WindowRect(background)), "the setup window is centred on the background");

  // The six controls in their creation order.
  static const SetupControl kOrder[] = {SetupControl::kTitle,   SetupControl::kHeader,
                                        SetupControl::kMessage, SetupControl::kHelp,
                                        SetupControl::kConfirm, SetupControl::kCancel};
  HWND child = ::GetWindow(setup, GW_CHILD);
  for (SetupControl which : kOrder) {
    const StyledControlLayout& layout = ControlLayout(which);
    std::string name = layout.name;
    if (!child) {
      Check(false, "the " + name + " control exists");
      continue;
    }
    RECT expected = {layout.rect.left, layout.rect.top, layout.rect.right, layout.rect.bottom};
    RECT actual = RectInParent(child);
    Check(SameRect(actual, expected), "the " + name + " control sits at " + Describe(expected) +
                                          (SameRect(actual, expected) ? "" : ", not " +
                                                                                  Describe(actual)));
    DWORD childStyle = StyleOf(child);
    if (layout.isButton) {
      Check(ClassOf(child) == "Button" && (childStyle & BS_TYPEMASK) == BS_OWNERDRAW &&
                ::GetDlgCtrlID(child) == layout.controlId,
            "the " + name + " control is an owner-drawn button with id " +
                std::to_string(layout.controlId));
    } else {
      Check(_stricmp(ClassOf(child).c_str(), "Static") == 0 &&
                ::GetDlgCtrlID(child) == kStaticControlId && !(childStyle & SS_SUNKEN) &&
                Has(childStyle, WS_CHILD | WS_VISIBLE),
            "the " + name + " control is a visible static with id 0xFFFF");
      Check(!TextOf(child).empty(), "the " + name + " control shows a text");
    }
    child = ::GetWindow(child, GW_HWNDNEXT);
  }
  Check(child == nullptr, "the setup window has no other controls");
}

void CheckGreeting() {
  Check(WaitFor([] { return Visible(SetupButton(kConfirmButtonId)); }),
        "the greeting waits with its Proceed button");
  HWND background = FindBackground();
  HWND setup = FindSetupWindow();
  Check(background != nullptr, "the background window \"Zentavo Install\" exists");
  Check(setup != nullptr, "the setup window \"Zentavo Install\" exists");
  if (!background || !setup) return;
  CheckBackground(background);
  CheckSetupWindow(setup, background);
  HWND confirm = SetupButton(kConfirmButtonId);
  HWND cancel = SetupButton(kCancelButtonId);
  Check(Visible(confirm) && !TextOf(confirm).empty(), "Proceed is shown with its caption");
  Check(Visible(cancel) && !TextOf(cancel).empty(), "Cancel is shown with its caption");
}

void ClickBackground() {
  HWND background = FindBackground();
  HWND setup = FindSetupWindow();
  Check(background && setup, "both windows are there for the click");
  if (!background || !setup) return;
  // Start from the background in front, as after start-up.
  ::SetForegroundWindow(background);
  WaitFor([&] { return ::GetForegroundWindow() == background; }, 5000);
  RECT rect = WindowRect(background);
  ClickAt(rect.left + 8, rect.top + 8);
  Check(WaitFor([&] { return ::GetForegroundWindow() == setup; }, 10000),
        "a click on the background brings the setup window to the front");
  HWND front = ::GetForegroundWindow();
  Check(front != background && front != FindOverlay(),
        "neither the background nor the overlay is active after the click");
}

void Cancel() {
  HWND cancel = SetupButton(kCancelButtonId);
  Check(Visible(cancel), "Cancel is there to click");
  if (!cancel) return;
  std::string proceed = TextOf(SetupButton(kConfirmButtonId));
  ClickCentreOf(cancel);
  Check(WaitFor([&] {
          HWND confirm = SetupButton(kConfirmButtonId);
          return !Visible(SetupButton(kCancelButtonId)) && Visible(confirm) &&
                 TextOf(confirm) != proceed;
        }),
        "after Cancel the abort question shows its OK button alone");
}

void Finish() {
  HWND confirm = SetupButton(kConfirmButtonId);
  Check(Visible(confirm), "OK is there to click");
  if (!confirm) return;
  ClickCentreOf(confirm);
  Check(WaitFor([] { return FindSetupWindow() == nullptr && FindBackground() == nullptr; }),
        "OK at the abort question ends the setup and its windows go");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr,
                 "usage: screens_probe dialog|accept-language|greeting|click-background|"
                 "cancel|finish\n");
    return 2;
  }
  std::string step = argv[1];
  if (step == "dialog") {
    CheckLanguageDialog();
  } else if (step == "accept-language") {
    AcceptLanguage();
  } else if (step == "greeting") {
    CheckGreeting();
  } else if (step == "click-background") {
    ClickBackground();
  } else if (step == "cancel") {
    Cancel();
  } else if (step == "finish") {
    Finish();
  } else {
    std::fprintf(stderr, "screens_probe: unknown step %s\n", step.c_str());
    return 2;
  }
  return g_failures == 0 ? 0 : 1;
}
