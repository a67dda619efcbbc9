// The Windows front end's message boxes with the real background and setup
// windows. A box is modal to its owner only: a box raised from a step must
// disable the setup window, whose buttons lead into the step engine, whichever
// window happened to be active.
#include <gtest/gtest.h>

#include "platform/wintypes.h"

#include <functional>
#include <memory>

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
