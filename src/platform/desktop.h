// The desktop service: top-level windows of other programs.
#pragma once

#include <string>
#include <vector>

#include "platform/wintypes.h"

class Desktop {
 public:
  virtual ~Desktop() = default;

  virtual std::vector<HWND> EnumWindows() = 0;
  // GetWindowText into a buffer of `size` bytes: false when it fails or is empty.
  virtual bool GetWindowText(HWND window, std::string* title, int size) = 0;
  // GetWindowThreadProcessId: 0 on failure.
  virtual DWORD GetWindowThreadProcessId(HWND window, DWORD* processId) = 0;
  // GetWindowModuleFileName (9x): false on failure.
  virtual bool GetWindowModuleFileName(HWND window, std::string* path) = 0;
  // GetClassName: false on failure.
  virtual bool GetClassName(HWND window, std::string* className) = 0;
  // FindWindow by class, any title: null when there is none.
  virtual HWND FindWindow(const std::string& className) = 0;
  virtual BOOL PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) = 0;
  // Makes the window the active, foreground one.
  virtual BOOL ActivateWindow(HWND window) = 0;
};
