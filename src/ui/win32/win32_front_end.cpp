#include "ui/win32/win32_front_end.h"

#include <commctrl.h>
#include <ole2.h>

#include <vector>

#include "lang/language_dlg.h"
#include "res/resource.h"
#include "ui/win32/background_wnd.h"
#include "ui/win32/setup_wnd.h"
#include "ui/win32/window.h"

namespace {

// The front end whose timers the thread timer procedure serves: there is one
// GUI thread and one front end per process.
Win32FrontEnd* g_timerOwner = nullptr;

// The buffer of a resource string.
constexpr int kResourceStringBuffer = 1024;

std::string SelectedComboText(HWND combo) {
  LRESULT index = ::SendMessageA(combo, CB_GETCURSEL, 0, 0);
  if (index == CB_ERR) return std::string();
  LRESULT length = ::SendMessageA(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length == CB_ERR || length < 0) return std::string();
  std::vector<char> text(static_cast<size_t>(length) + 1, '\0');
  if (::SendMessageA(combo, CB_GETLBTEXT, static_cast<WPARAM>(index),
                     reinterpret_cast<LPARAM>(text.data())) == CB_ERR) {
    return std::string();
  }
  text.back() = '\0';
  return std::string(text.data());
}

// The language dialog: the entries of CLanguageDlg go into the sorted
// drop-down list and its preselection is selected; OK hands the selected
// text to CLanguageDlg::OnOK; Escape and the close box cancel.
INT_PTR CALLBACK LanguageDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      auto* logic = reinterpret_cast<CLanguageDlg*>(lParam);
      ::SetWindowLongPtrA(dialog, DWLP_USER, lParam);
      HWND list = ::GetDlgItem(dialog, IDC_LANGUAGE_LIST);
      logic->OnInitDialog();
      for (const std::string& entry : logic->AddedEntries()) {
        ::SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
      }
      const std::string& preselection = logic->Preselection();
      if (!preselection.empty()) {
        LRESULT index = ::SendMessageA(list, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                       reinterpret_cast<LPARAM>(preselection.c_str()));
        if (index != CB_ERR) ::SendMessageA(list, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
      }
      CentreWindow(dialog, nullptr);  // the template's 0, 0 means the screen's centre
      return TRUE;  // the focus goes to the first control, the OK button
    }
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDOK: {
          auto* logic = reinterpret_cast<CLanguageDlg*>(::GetWindowLongPtrA(dialog, DWLP_USER));
          if (logic) logic->OnOK(SelectedComboText(::GetDlgItem(dialog, IDC_LANGUAGE_LIST)));
          ::EndDialog(dialog, IDOK);
          return TRUE;
        }
        case IDCANCEL:
          ::EndDialog(dialog, IDCANCEL);
          return TRUE;
        default:
          return FALSE;
      }
    default:
      return FALSE;
  }
}

}  // namespace

Win32FrontEnd::Win32FrontEnd() { g_timerOwner = this; }

Win32FrontEnd::~Win32FrontEnd() {
  for (Timer& timer : m_timers) {
    if (timer.id != 0) ::KillTimer(nullptr, timer.id);
  }
  if (g_timerOwner == this) g_timerOwner = nullptr;
  if (m_oleInitialized) ::OleUninitialize();
}

void Win32FrontEnd::EnableControlHosting() {
  ::InitCommonControls();
  if (!m_oleInitialized) m_oleInitialized = SUCCEEDED(::OleInitialize(nullptr));
}

std::unique_ptr<BackgroundWindow> Win32FrontEnd::NewBackgroundWindow(CSetupApp& app) {
  return std::make_unique<CBackgroundWnd>(app);
}

std::unique_ptr<SetupWindow> Win32FrontEnd::NewSetupWindow(CSetupApp& app) {
  return std::make_unique<CSetupWnd>(app);
}

// A box is modal to its owner only. While the setup window exists it owns
// the box, so that a box raised from a step disables the window whose
// buttons lead into the step engine until the box is answered; the active
// window may then be the background, or none when another program is in
// front. Before that (start-up), the thread's active window owns it, if any,
// so that the box stays in front of the setup's windows.
int Win32FrontEnd::MessageBox(const std::string& text, const std::string& caption, UINT type) {
  HWND owner = FindSetupWindowInThread();
  if (!owner) owner = ::GetActiveWindow();
  return ::MessageBoxA(owner, text.c_str(), caption.c_str(), type);
}

bool Win32FrontEnd::RunLanguageDialog(CLanguageDlg& dialog) {
  INT_PTR result = ::DialogBoxParamA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_LANGUAGE),
                                     nullptr, LanguageDialogProc,
                                     reinterpret_cast<LPARAM>(&dialog));
  return result == IDOK;
}

std::string Win32FrontEnd::LoadResourceString(UINT id) {
  char text[kResourceStringBuffer];
  int length = ::LoadStringA(::GetModuleHandleA(nullptr), id, text, sizeof(text));
  return length > 0 ? std::string(text, static_cast<size_t>(length)) : std::string();
}

Win32FrontEnd::Timer* Win32FrontEnd::FindTimer(UINT_PTR id) {
  for (Timer& timer : m_timers) {
    if (timer.id == id) return &timer;
  }
  return nullptr;
}

// A timer with no free slot is not armed (0, as a failed SetTimer).
UINT_PTR Win32FrontEnd::SetTimer(UINT milliseconds, std::function<void()> onTimer) {
  Timer* slot = FindTimer(0);
  if (!slot) return 0;
  UINT_PTR id = ::SetTimer(nullptr, 0, milliseconds, OnThreadTimer);
  if (id != 0) {
    slot->id = id;
    slot->onTimer = std::move(onTimer);
  }
  return id;
}

void Win32FrontEnd::KillTimer(UINT_PTR id) {
  if (id == 0) return;
  ::KillTimer(nullptr, id);
  if (Timer* timer = FindTimer(id)) *timer = Timer();
}

void Win32FrontEnd::PostQuitMessage(int exitCode) { ::PostQuitMessage(exitCode); }

// The setup window is not a dialog: its keys (Return, Escape, Tab) are
// offered to it before they are translated, as a dialog's are to
// IsDialogMessage. Message boxes and the language dialog run loops of
// their own, with the system's dialog keys.
int Win32FrontEnd::RunMessageLoop() {
  MSG message{};
  for (;;) {
    BOOL got = ::GetMessageA(&message, nullptr, 0, 0);
    if (got == 0) return static_cast<int>(message.wParam);
    if (got == -1) return 0;
    if (CSetupWnd::TranslateKey(message)) continue;
    ::TranslateMessage(&message);
    ::DispatchMessageA(&message);
  }
}

// The callback may kill or re-arm its own timer, so it runs from a copy.
void CALLBACK Win32FrontEnd::OnThreadTimer(HWND, UINT, UINT_PTR id, DWORD) {
  if (!g_timerOwner) return;
  Timer* found = id != 0 ? g_timerOwner->FindTimer(id) : nullptr;
  if (!found) return;
  std::function<void()> callback = found->onTimer;
  if (callback) callback();
}
