// The Windows front end: real windows, message boxes, the language dialog
// from the program's resources, thread timers and the message loop of the
// one GUI thread.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/wintypes.h"
#include "ui/setup_window.h"

class Win32FrontEnd : public FrontEnd {
 public:
  Win32FrontEnd();
  ~Win32FrontEnd() override;
  Win32FrontEnd(const Win32FrontEnd&) = delete;
  Win32FrontEnd& operator=(const Win32FrontEnd&) = delete;

  // The common controls, and OLE for the in-place activation of the movie
  // control (balanced when the front end goes).
  void EnableControlHosting() override;
  std::unique_ptr<BackgroundWindow> NewBackgroundWindow(CSetupApp& app) override;
  std::unique_ptr<SetupWindow> NewSetupWindow(CSetupApp& app) override;

  // Owned by the setup window while it exists, otherwise by the active window.
  int MessageBox(const std::string& text, const std::string& caption, UINT type) override;
  // Dialog 135 without an owner, centred on the screen.
  bool RunLanguageDialog(CLanguageDlg& dialog) override;
  std::string LoadResourceString(UINT id) override;

  UINT_PTR SetTimer(UINT milliseconds, std::function<void()> onTimer) override;
  void KillTimer(UINT_PTR id) override;
  void PostQuitMessage(int exitCode) override;
  int RunMessageLoop() override;

 private:
  static void CALLBACK OnThreadTimer(HWND window, UINT message, UINT_PTR id, DWORD time);

  // The armed timers: the setup runs one or two at a time (the step timer,
  // a wait), so a few slots do; a slot with id 0 is free.
  struct Timer {
    UINT_PTR id = 0;
    std::function<void()> onTimer;
  };
  static constexpr int kTimerSlots = 8;
  Timer* FindTimer(UINT_PTR id);
  Timer m_timers[kTimerSlots];
  bool m_oleInitialized = false;
};
