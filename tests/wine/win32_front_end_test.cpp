// The Windows front end with the real background and setup windows: its
// message boxes (a box is modal to its owner only: a box raised from a step
// must disable the setup window, whose buttons lead into the step engine,
// whichever window happened to be active), its keys, and what a screen
// reader reads.
#include <gtest/gtest.h>

#include "platform/wintypes.h"

#include <oleacc.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/setup_app.h"
#include "platform/win32/win32_machine.h"
#include "ui/win32/background_wnd.h"
#include "ui/win32/setup_wnd.h"
#include "ui/win32/win32_front_end.h"
#include "ui/win32/window.h"

namespace {

BOOL CALLBACK NoteDialog(HWND window, LPARAM found) {
  char name[16] = {0};
  if (::IsWindowVisible(window) && ::GetClassNameA(window, name, sizeof(name)) > 0 &&
      lstrcmpA(name, "#32770") == 0) {
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
  }
  return TRUE;
}

// The message box this thread shows, if any.
HWND OpenMessageBox() {
  HWND found = nullptr;
  ::EnumThreadWindows(::GetCurrentThreadId(), NoteDialog, reinterpret_cast<LPARAM>(&found));
  return found;
}

// The setup window's commands and close requests, recorded instead of
// handed on, so that the keys show what they press without running the
// steps behind the buttons.
WNDPROC g_setupProc = nullptr;
std::vector<std::string>* g_pressed = nullptr;

LRESULT CALLBACK RecordPresses(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
    g_pressed->push_back(LOWORD(wParam) == 1 ? "confirm" : LOWORD(wParam) == 2 ? "cancel" : "?");
    return 0;
  }
  if (message == WM_CLOSE) {
    g_pressed->push_back("close");
    return 0;
  }
  return ::CallWindowProcA(g_setupProc, window, message, wParam, lParam);
}

void Pump() {
  MSG message;
  for (int round = 0; round < 20; ++round) {
    while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) continue;
      if (CSetupWnd::TranslateKey(message)) continue;
      ::TranslateMessage(&message);
      ::DispatchMessageA(&message);
    }
    ::Sleep(5);
  }
}

// A key pressed where the focus is, as the message loop offers it.
bool Key(UINT key) {
  MSG message{};
  message.hwnd = ::GetFocus();
  message.message = WM_KEYDOWN;
  message.wParam = key;
  message.lParam = 1;
  bool taken = CSetupWnd::TranslateKey(message);
  Pump();
  return taken;
}

// The name a screen reader reads for a window: Active Accessibility's,
// through the system's proxy of the window's class.
// IAccessible's interface id, here so that neither oleacc's nor uuid's copy
// has to be linked (the 64-bit libraries both define it).
const IID kIidAccessible = {0x618736E0, 0x3C3D, 0x11CF, {0x81, 0x0C, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

bool AccessibleName(HWND window, LONG objectId, std::string* name) {
  IAccessible* accessible = nullptr;
  if (FAILED(::AccessibleObjectFromWindow(window, static_cast<DWORD>(objectId), kIidAccessible,
                                          reinterpret_cast<void**>(&accessible))) ||
      !accessible) {
    return false;
  }
  VARIANT self;
  ::VariantInit(&self);
  self.vt = VT_I4;
  self.lVal = CHILDID_SELF;
  BSTR text = nullptr;
  HRESULT hr = accessible->get_accName(self, &text);
  accessible->Release();
  if (hr != S_OK || !text) {
    if (text) ::SysFreeString(text);
    return false;
  }
  char narrow[512] = {0};
  ::WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, sizeof(narrow) - 1, nullptr, nullptr);
  ::SysFreeString(text);
  *name = narrow;
  return true;
}

std::string WindowText(HWND window) {
  char text[512] = {0};
  ::GetWindowTextA(window, text, sizeof(text));
  return text;
}

// The front end's windows are its own classes. Its libraries are built
// without run-time type information (as setup.exe is), so the test names
// the class instead of asking for it.
HWND HandleOf(BackgroundWindow& window) {
  return static_cast<CBackgroundWnd&>(window).GetSafeHwnd();
}
HWND HandleOf(SetupWindow& window) { return static_cast<CSetupWnd&>(window).GetSafeHwnd(); }

class Win32FrontEndBoxes : public ::testing::Test {
 protected:
  void SetUp() override {
    machine_ = NewWin32Machine();
    frontEnd_ = std::make_unique<Win32FrontEnd>();
    frontEnd_->EnableControlHosting();
    app_ = std::make_unique<CSetupApp>(*machine_, *frontEnd_);
  }

  void TearDown() override {
    setup_.reset();
    if (background_) {
      background_->Destroy();
      background_.reset();
    }
    // The background's end posts the quit message that would end the
    // process's loop; it must not end the next test's boxes.
    MSG message;
    while (::PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
    app_.reset();
    frontEnd_.reset();
  }

  void CreateBackground() {
    background_ = frontEnd_->NewBackgroundWindow(*app_);
    ASSERT_TRUE(background_->Create());
    background_->Show();
  }

  void CreateSetupWindow() {
    setup_ = frontEnd_->NewSetupWindow(*app_);
    ASSERT_TRUE(setup_->Create(*background_));
    setup_->Show();
  }

  // Shows a box from a timer tick, as a step does from the step timer
  // (stopped first), runs `whileOpen` once the box is up, then answers it.
  // Returns the box's answer.
  int BoxFromAStep(const std::function<void(HWND box)>& whileOpen) {
    int answer = 0;
    UINT_PTR step = 0;
    step = frontEnd_->SetTimer(10, [&] {
      frontEnd_->KillTimer(step);
      UINT_PTR look = 0;
      int ticks = 0;
      look = frontEnd_->SetTimer(20, [&] {
        HWND box = OpenMessageBox();
        if (!box && ++ticks < 1500) return;  // up to half a minute on a slow display
        frontEnd_->KillTimer(look);
        if (!box) {
          ADD_FAILURE() << "no message box showed";
          return;
        }
        whileOpen(box);
        ::PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
      });
      answer = frontEnd_->MessageBox("The camera is still on.", "setup", MB_ICONINFORMATION);
      frontEnd_->KillTimer(look);
      frontEnd_->PostQuitMessage(0);
    });
    frontEnd_->RunMessageLoop();
    return answer;
  }

  std::unique_ptr<Machine> machine_;
  std::unique_ptr<Win32FrontEnd> frontEnd_;
  std::unique_ptr<CSetupApp> app_;
  std::unique_ptr<BackgroundWindow> background_;
  std::unique_ptr<SetupWindow> setup_;
};

}  // namespace

TEST_F(Win32FrontEndBoxes, BoxFromAStepDisablesTheSetupWindowWhicheverWindowIsActive) {
  ASSERT_NO_FATAL_FAILURE(CreateBackground());
  ASSERT_NO_FATAL_FAILURE(CreateSetupWindow());
  HWND background = HandleOf(*background_);
  HWND setup = HandleOf(*setup_);
  ASSERT_NE(background, nullptr);
  ASSERT_NE(setup, nullptr);
  // After start-up the background is the active window.
  background_->Activate();
  ::SetActiveWindow(background);

  HWND shown = nullptr;
  HWND owner = nullptr;
  BOOL setupEnabled = TRUE;
  BOOL backgroundEnabled = FALSE;
  HWND activeAfterClick = nullptr;
  int answer = BoxFromAStep([&](HWND box) {
    shown = box;
    owner = ::GetWindow(box, GW_OWNER);
    setupEnabled = ::IsWindowEnabled(setup);
    backgroundEnabled = ::IsWindowEnabled(background);
    // A click on the background brings the setup window forward: with the
    // box open, the box comes instead of the disabled window.
    ::SetActiveWindow(background);
    setup_->Activate();
    activeAfterClick = ::GetActiveWindow();
  });
  EXPECT_EQ(answer, IDOK);
  EXPECT_EQ(owner, setup) << "the setup window owns the box";
  EXPECT_FALSE(setupEnabled) << "its buttons cannot be clicked while the box is open";
  EXPECT_TRUE(backgroundEnabled) << "the box is modal to its owner only";
  EXPECT_EQ(activeAfterClick, shown) << "the box comes forward, not the disabled window";
  EXPECT_TRUE(::IsWindowEnabled(setup)) << "answering the box enables the window again";
}

TEST_F(Win32FrontEndBoxes, WithoutASetupWindowTheActiveWindowOwnsTheBox) {
  ASSERT_NO_FATAL_FAILURE(CreateBackground());
  HWND background = HandleOf(*background_);
  ASSERT_NE(background, nullptr);
  ::SetActiveWindow(background);
  HWND active = ::GetActiveWindow();

  HWND owner = nullptr;
  BOOL activeEnabled = TRUE;
  EXPECT_EQ(BoxFromAStep([&](HWND box) {
              owner = ::GetWindow(box, GW_OWNER);
              activeEnabled = active ? ::IsWindowEnabled(active) : FALSE;
            }),
            IDOK);
  EXPECT_EQ(owner, active);
  EXPECT_FALSE(activeEnabled);

  // A setup window that has gone owns nothing.
  ASSERT_NO_FATAL_FAILURE(CreateSetupWindow());
  HWND setup = HandleOf(*setup_);
  setup_->Destroy();
  EXPECT_FALSE(::IsWindow(setup));
  ::SetActiveWindow(background);
  active = ::GetActiveWindow();
  owner = setup;
  EXPECT_EQ(BoxFromAStep([&](HWND box) { owner = ::GetWindow(box, GW_OWNER); }), IDOK);
  EXPECT_EQ(owner, active);
}

// Return presses the confirm button (or the cancel button the user moved
// to), Escape the cancel button, or closes the window where only the
// confirm button shows; Tab moves the focus between the shown buttons; the
// focus goes to the confirm button when it appears, leaves a hidden one,
// and comes back after the background was activated; while a step runs no
// button shows and no key does anything.
TEST_F(Win32FrontEndBoxes, KeysPressTheShownButtonsAndTheFocusFollows) {
  ASSERT_NO_FATAL_FAILURE(CreateBackground());
  ASSERT_NO_FATAL_FAILURE(CreateSetupWindow());
  HWND background = HandleOf(*background_);
  HWND setup = HandleOf(*setup_);
  HWND confirm = ::GetDlgItem(setup, 1);
  HWND cancel = ::GetDlgItem(setup, 2);
  ASSERT_TRUE(confirm && cancel);
  ::SetForegroundWindow(setup);
  Pump();
  ASSERT_EQ(::GetActiveWindow(), setup);

  std::vector<std::string> pressed;
  g_pressed = &pressed;
  g_setupProc = reinterpret_cast<WNDPROC>(
      ::SetWindowLongPtrA(setup, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RecordPresses)));

  // A step runs: keys are taken and press nothing.
  EXPECT_TRUE(Key(VK_RETURN));
  EXPECT_TRUE(Key(VK_ESCAPE));
  EXPECT_TRUE(pressed.empty());

  setup_->ShowConfirm(true);
  setup_->ShowCancel(true);
  EXPECT_EQ(::GetFocus(), confirm) << "the confirm button takes the focus when it appears";
  Key(VK_TAB);
  EXPECT_EQ(::GetFocus(), cancel);
  Key(VK_TAB);
  EXPECT_EQ(::GetFocus(), confirm);
  Key(VK_RETURN);  // confirm
  Key(VK_TAB);
  Key(VK_RETURN);  // cancel, which has the focus
  Key(VK_ESCAPE);  // cancel
  setup_->ShowCancel(false);
  EXPECT_EQ(::GetFocus(), confirm) << "a hidden button gives up the focus";
  Key(VK_ESCAPE);  // close: no Cancel shows
  setup_->ShowConfirm(false);
  EXPECT_EQ(::GetFocus(), setup);
  Key(VK_RETURN);
  Key(VK_ESCAPE);
  EXPECT_FALSE(Key('A')) << "other keys are left to the window";
  EXPECT_EQ(pressed, (std::vector<std::string>{"confirm", "cancel", "cancel", "close"}));

  // Activated again after the background: the focus is where it was.
  setup_->ShowConfirm(true);
  setup_->ShowCancel(true);
  Key(VK_TAB);
  ASSERT_EQ(::GetFocus(), cancel);
  ::SetForegroundWindow(background);
  Pump();
  EXPECT_EQ(::GetActiveWindow(), setup) << "the background hands the activation on";
  EXPECT_EQ(::GetFocus(), cancel);

  ::SetWindowLongPtrA(setup, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_setupProc));
  g_pressed = nullptr;
}

// A screen reader reads each control's current text and the window's
// caption. Active Accessibility's proxies are asked where the system has
// them; elsewhere the window texts are what the proxies would read.
TEST_F(Win32FrontEndBoxes, ScreenReadersReadTheCurrentTexts) {
  ASSERT_NO_FATAL_FAILURE(CreateBackground());
  ASSERT_NO_FATAL_FAILURE(CreateSetupWindow());
  HWND setup = HandleOf(*setup_);
  setup_->SetMessageText("Checking the installation medium");
  ::SetWindowTextA(::GetDlgItem(setup, 1), "Proceed");
  ::SetWindowTextA(::GetDlgItem(setup, 2), "Cancel");
  setup_->ShowConfirm(true);
  setup_->ShowCancel(true);

  // The window's name is its caption, for the window object and for its
  // client area alike.
  std::string name;
  bool proxies = AccessibleName(setup, OBJID_CLIENT, &name);
  std::printf("accessible names read through %s\n",
              proxies ? "Active Accessibility (AccessibleObjectFromWindow, get_accName)"
                      : "the window texts (no Active Accessibility proxy answered)");
  EXPECT_EQ(proxies ? name : WindowText(setup), "Zentavo Install");
  int checked = 0;
  for (HWND child = ::GetWindow(setup, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
    std::string text = WindowText(child);
    if (text.empty()) continue;
    SCOPED_TRACE(text);
    ++checked;
    if (proxies) {
      ASSERT_TRUE(AccessibleName(child, OBJID_CLIENT, &name));
      EXPECT_EQ(name, text);
    }
  }
  EXPECT_GE(checked, 3) << "the message and both buttons carry their texts";
}
