// The simulation's desktop: top-level windows of other programs, each owned
// by a simulated process; a window that closes on request goes away (and its
// process ends with its last window) when it is sent SC_CLOSE or WM_CLOSE,
// and a dialog with a default button goes when that button is pressed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "platform/desktop.h"
#include "platform/sim/sim_json.h"
#include "platform/sim/sim_window.h"

class SimClock;
class SimCodePage;
class SimEnvironment;
class SimProcesses;

struct SimPostedMessage {
  HWND window;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};

class SimDesktop : public Desktop {
 public:
  // The windows belong to the machine's processes: a described window's
  // program runs, and a process ends with its last window.
  SimDesktop(SimProcesses& processes, const SimClock& clock, const SimEnvironment& environment,
             const SimCodePage& codePage)
      : processes_(processes), clock_(clock), environment_(environment), codePage_(codePage) {}

  bool Load(const SimJson& windows, const std::string& pointer, std::string* error);
  SimJson ToJson();
  HWND AddWindow(SimWindow window);
  // The windows that are still open, front to back.
  const std::vector<SimWindow>& windows();
  const std::vector<SimPostedMessage>& postedMessages() const { return posted_; }
  HWND activeWindow() const { return active_; }
  // The frontmost open window with exactly this title, or null.
  HWND FindByTitle(const std::string& title);
  // The user presses the window's default button: it gets WM_COMMAND with
  // IDOK and BN_CLICKED, and a dialog with a button goes. False when the
  // window is not open or has no button.
  bool PressButton(HWND window);

  std::vector<HWND> EnumWindows() override;
  bool GetWindowText(HWND window, std::string* title, int size) override;
  DWORD GetWindowThreadProcessId(HWND window, DWORD* processId) override;
  bool GetWindowModuleFileName(HWND window, std::string* path) override;
  bool GetClassName(HWND window, std::string* className) override;
  HWND FindWindow(const std::string& className) override;
  BOOL PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;
  BOOL ActivateWindow(HWND window) override;

 private:
  void Refresh();
  SimWindow* Find(HWND window);
  void Close(size_t index);

  SimProcesses& processes_;
  const SimClock& clock_;
  const SimEnvironment& environment_;
  const SimCodePage& codePage_;
  std::vector<SimWindow> windows_;
  std::vector<SimPostedMessage> posted_;
  HWND active_ = nullptr;
  uintptr_t nextHandle_ = 0x10010;
};
