// What the core sees of the user interface: the setup window's operations,
// the windows as objects with an identity, message boxes, the language
// dialog, and the message loop with its timer. The Windows build implements
// it with real windows, the simulation with a recording or terminal screen.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/wintypes.h"

class CSetupApp;
class CLanguageDlg;

// The five window operations of the step engine and the package line.
class SetupWindowOps {
 public:
  virtual ~SetupWindowOps() = default;
  // Slot 0 header, 1 message, 2 help; an id below 0 empties the slot.
  virtual void SetText(int slot, int stringId) = 0;
  virtual void SetConfirmText(int stringId) = 0;
  virtual void SetCancelText(int stringId) = 0;
  virtual void ShowConfirm(bool show) = 0;
  virtual void ShowCancel(bool show) = 0;
  virtual void SetPackageLine(const std::string& line) = 0;
  // The message line (slot 1) with a text of the setup's own rather than a
  // string of the language table: the progress of the medium check.
  virtual void SetMessageText(const std::string&) {}
};

// A window of the setup: its identity is what OnWindowCreated compares.
class AppWindow {
 public:
  virtual ~AppWindow() = default;
  virtual void Show() = 0;
  // Makes the window the active, foreground one.
  virtual void Activate() = 0;
  // DestroyWindow: runs the window's destruction (and its owned windows').
  virtual void Destroy() = 0;
};

// The full-screen background window, the application's main window.
class BackgroundWindow : public AppWindow {
 public:
  // Creates the window; its creation runs the window chain before returning.
  virtual bool Create() = 0;
};

// The main setup window.
class SetupWindow : public AppWindow, public SetupWindowOps {
 public:
  // Creates the window as a popup owned by the background window.
  virtual bool Create(BackgroundWindow& owner) = 0;
};

class FrontEnd {
 public:
  virtual ~FrontEnd() = default;

  // Turns on ActiveX hosting and the 3-D look of dialog controls (start-up step 1).
  virtual void EnableControlHosting() = 0;
  virtual std::unique_ptr<BackgroundWindow> NewBackgroundWindow(CSetupApp& app) = 0;
  virtual std::unique_ptr<SetupWindow> NewSetupWindow(CSetupApp& app) = 0;

  // A modal message box captioned `caption`; returns the button pressed.
  virtual int MessageBox(const std::string& text, const std::string& caption, UINT type) = 0;
  // Runs the language dialog modally; true when it ended with OK.
  virtual bool RunLanguageDialog(CLanguageDlg& dialog) = 0;
  // The text of a string resource of the program (156, 157).
  virtual std::string LoadResourceString(UINT id) = 0;

  // A thread timer without a window; the callback runs from the message loop.
  virtual UINT_PTR SetTimer(UINT milliseconds, std::function<void()> onTimer) = 0;
  virtual void KillTimer(UINT_PTR id) = 0;
  virtual void PostQuitMessage(int exitCode) = 0;
  // Runs the message loop until the quit message; returns its exit code.
  virtual int RunMessageLoop() = 0;
};
