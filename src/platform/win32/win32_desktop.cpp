// Top-level windows over user32. GetWindowModuleFileNameA is looked up at run
// time: the core asks for it only on Windows 9x, and user32 of NT 4.0 before
// its third service pack does not export it.
#include "platform/wintypes.h"

#include <vector>

#include "platform/win32/unique_any.h"
#include "platform/win32/win32_services.h"

namespace win32 {
namespace {

typedef UINT(WINAPI* GetWindowModuleFileNameFn)(HWND, LPSTR, UINT);

BOOL CALLBACK CollectWindow(HWND window, LPARAM list) {
  reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
  return TRUE;
}

class Win32Desktop : public Desktop {
 public:
  Win32Desktop() {
    HMODULE user = ::GetModuleHandleA("user32.dll");
    if (user) {
      getWindowModuleFileName_ =
          ProcAddress<GetWindowModuleFileNameFn>(user, "GetWindowModuleFileNameA");
    }
  }

  std::vector<HWND> EnumWindows() override {
    std::vector<HWND> windows;
    ::EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&windows));
    return windows;
  }

  bool GetWindowText(HWND window, std::string* title, int size) override {
    if (size <= 0) return false;
    std::vector<char> buffer(static_cast<size_t>(size) + 1, 0);
    int length = ::GetWindowTextA(window, buffer.data(), size);
    if (length <= 0) return false;
    title->assign(buffer.data(), length < size ? length : size - 1);
    return true;
  }

  DWORD GetWindowThreadProcessId(HWND window, DWORD* processId) override {
    DWORD process = 0;
    DWORD thread = ::GetWindowThreadProcessId(window, &process);
    if (thread != 0 && processId) *processId = process;
    return thread;
  }

  bool GetWindowModuleFileName(HWND window, std::string* path) override {
    if (!getWindowModuleFileName_) return false;
    char buffer[MAX_PATH] = {};
    UINT length = getWindowModuleFileName_(window, buffer, sizeof(buffer));
    if (length == 0) return false;
    path->assign(buffer, length < sizeof(buffer) ? length : sizeof(buffer) - 1);
    return true;
  }

  bool GetClassName(HWND window, std::string* className) override {
    char buffer[256] = {};
    int length = ::GetClassNameA(window, buffer, sizeof(buffer));
    if (length <= 0) return false;
    className->assign(buffer, static_cast<size_t>(length) < sizeof(buffer) ? length : sizeof(buffer) - 1);
    return true;
  }

  HWND FindWindow(const std::string& className) override {
    return ::FindWindowA(className.c_str(), nullptr);
  }

  BOOL PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override {
    return ::PostMessageA(window, message, wParam, lParam);
  }

  BOOL ActivateWindow(HWND window) override { return ::SetForegroundWindow(window); }

 private:
  GetWindowModuleFileNameFn getWindowModuleFileName_ = nullptr;
};

}  // namespace

std::unique_ptr<Desktop> NewDesktop() { return std::make_unique<Win32Desktop>(); }

}  // namespace win32
