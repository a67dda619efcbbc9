#include "platform/sim/sim_desktop.h"

#include <strings.h>

#include "platform/sim/sim_clock.h"
#include "platform/sim/sim_codepage.h"
#include "platform/sim/sim_environment.h"
#include "platform/sim/sim_processes.h"

namespace {
constexpr UINT kWmClose = 0x0010;
constexpr UINT kWmCommand = 0x0111;
constexpr WPARAM kBnClicked = 0;
}

bool SimDesktop::Load(const SimJson& windows, const std::string& pointer, std::string* error) {
  if (!windows.is_array()) return Fail(pointer, "expected an array", error);
  for (size_t i = 0; i < windows.size(); ++i) {
    std::string at = JsonPointer(pointer, i);
    const SimJson& entry = windows[i];
    if (!CheckObject(entry, at,
                     {"title", "class", "program", "processId", "closesOnRequest", "closeDelayMs",
                      "button"},
                     error)) {
      return false;
    }
    SimWindow window;
    std::string text;
    if (entry.contains("title")) {
      if (!ReadString(entry["title"], JsonPointer(at, "title"), &text, error)) return false;
      window.title = codePage_.FromUtf8(text);
    }
    if (entry.contains("class")) {
      if (!ReadString(entry["class"], JsonPointer(at, "class"), &text, error)) return false;
      window.className = codePage_.FromUtf8(text);
    }
    if (entry.contains("program")) {
      if (!ReadString(entry["program"], JsonPointer(at, "program"), &text, error)) return false;
      window.program = codePage_.FromUtf8(text);
    }
    if (entry.contains("button")) {
      if (!ReadString(entry["button"], JsonPointer(at, "button"), &text, error)) return false;
      window.button = codePage_.FromUtf8(text);
    }
    if (entry.contains("closesOnRequest") &&
        !ReadBool(entry["closesOnRequest"], JsonPointer(at, "closesOnRequest"),
                  &window.closesOnRequest, error)) {
      return false;
    }
    uint64_t number = 0;
    if (entry.contains("closeDelayMs")) {
      if (!ReadUnsigned(entry["closeDelayMs"], JsonPointer(at, "closeDelayMs"), UINT64_MAX / 2,
                        &number, error)) {
        return false;
      }
      window.closeDelayMs = number;
    }
    std::optional<DWORD> id;
    if (entry.contains("processId")) {
      if (!ReadUnsigned(entry["processId"], JsonPointer(at, "processId"), 0xFFFFFFFFu, &number,
                        error)) {
        return false;
      }
      if (number == 0) return Fail(JsonPointer(at, "processId"), "process id 0 is the idle process", error);
      id = static_cast<DWORD>(number);
    }
    const SimProcess* owner = id ? processes_.Process(*id) : nullptr;
    if (owner && !owner->ended) {
      if (window.program.empty()) window.program = owner->program;
      window.processId = *id;
    } else {
      if (!id) {
        // Windows of one program without an id share its process.
        for (const SimWindow& other : windows_) {
          if (!window.program.empty() && strcasecmp(other.program.c_str(),
                                                    window.program.c_str()) == 0) {
            id = other.processId;
          }
        }
      }
      window.processId = processes_.AddRunningProcess(window.program, id);
    }
    AddWindow(window);
  }
  return true;
}

SimJson SimDesktop::ToJson() {
  Refresh();
  SimJson out = SimJson::array();
  for (const SimWindow& window : windows_) {
    SimJson entry = SimJson::object();
    entry["title"] = codePage_.ToUtf8(window.title);
    entry["class"] = codePage_.ToUtf8(window.className);
    entry["program"] = codePage_.ToUtf8(window.program);
    entry["processId"] = window.processId;
    entry["closesOnRequest"] = window.closesOnRequest;
    if (window.closeDelayMs) entry["closeDelayMs"] = window.closeDelayMs;
    if (!window.button.empty()) entry["button"] = codePage_.ToUtf8(window.button);
    out.push_back(std::move(entry));
  }
  return out;
}

HWND SimDesktop::AddWindow(SimWindow window) {
  window.handle = nextHandle_;
  nextHandle_ += 0x10;
  windows_.push_back(std::move(window));
  return reinterpret_cast<HWND>(windows_.back().handle);
}

void SimDesktop::Close(size_t index) {
  DWORD processId = windows_[index].processId;
  if (active_ == reinterpret_cast<HWND>(windows_[index].handle)) active_ = nullptr;
  windows_.erase(windows_.begin() + static_cast<std::ptrdiff_t>(index));
  for (const SimWindow& other : windows_) {
    if (other.processId == processId) return;
  }
  processes_.EndProcess(processId, 0);
}

// Windows asked to close go when their delay has passed; windows of a
// process that ended go with it.
void SimDesktop::Refresh() {
  uint64_t now = clock_.now();
  for (size_t i = 0; i < windows_.size();) {
    const SimWindow& window = windows_[i];
    if (window.closingAtMs && *window.closingAtMs <= now) {
      Close(i);
      continue;
    }
    if (!processes_.IsRunning(window.processId)) {
      windows_.erase(windows_.begin() + static_cast<std::ptrdiff_t>(i));
      continue;
    }
    ++i;
  }
}

const std::vector<SimWindow>& SimDesktop::windows() {
  Refresh();
  return windows_;
}

SimWindow* SimDesktop::Find(HWND window) {
  Refresh();
  for (SimWindow& w : windows_) {
    if (reinterpret_cast<HWND>(w.handle) == window) return &w;
  }
  return nullptr;
}

std::vector<HWND> SimDesktop::EnumWindows() {
  Refresh();
  std::vector<HWND> out;
  for (const SimWindow& w : windows_) out.push_back(reinterpret_cast<HWND>(w.handle));
  return out;
}

bool SimDesktop::GetWindowText(HWND window, std::string* title, int size) {
  SimWindow* w = Find(window);
  if (!w || size <= 0 || w->title.empty()) return false;
  *title = w->title.substr(0, static_cast<size_t>(size - 1));
  return !title->empty();
}

DWORD SimDesktop::GetWindowThreadProcessId(HWND window, DWORD* processId) {
  SimWindow* w = Find(window);
  if (!w) return 0;
  if (processId) *processId = w->processId;
  return w->processId + 2;
}

// Windows 9x names any window's module; the NT family only the caller's own.
bool SimDesktop::GetWindowModuleFileName(HWND window, std::string* path) {
  SimWindow* w = Find(window);
  if (!w || environment_.os.platformId == VER_PLATFORM_WIN32_NT) return false;
  if (w->program.empty()) return false;
  *path = w->program;
  return true;
}

bool SimDesktop::GetClassName(HWND window, std::string* className) {
  SimWindow* w = Find(window);
  if (!w || w->className.empty()) return false;
  *className = w->className;
  return true;
}

HWND SimDesktop::FindWindow(const std::string& className) {
  Refresh();
  for (const SimWindow& w : windows_) {
    if (strcasecmp(w.className.c_str(), className.c_str()) == 0) {
      return reinterpret_cast<HWND>(w.handle);
    }
  }
  return nullptr;
}

BOOL SimDesktop::PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  SimWindow* w = Find(window);
  if (!w) return FALSE;
  posted_.push_back(SimPostedMessage{window, message, wParam, lParam});
  bool closeRequest = message == kWmClose || (message == WM_SYSCOMMAND &&
                                              (wParam & 0xFFF0u) == SC_CLOSE);
  // A dialog ends when its default button is clicked, whatever its close box does.
  bool buttonClicked = message == kWmCommand && !w->button.empty() &&
                       wParam == (static_cast<WPARAM>(IDOK) | kBnClicked << 16);
  if (((closeRequest && w->closesOnRequest) || buttonClicked) && !w->closingAtMs) {
    w->closingAtMs = clock_.now() + w->closeDelayMs;
    Refresh();
  }
  return TRUE;
}

BOOL SimDesktop::ActivateWindow(HWND window) {
  SimWindow* w = Find(window);
  if (!w) return FALSE;
  SimWindow moved = *w;
  for (size_t i = 0; i < windows_.size(); ++i) {
    if (windows_[i].handle == moved.handle) {
      windows_.erase(windows_.begin() + static_cast<std::ptrdiff_t>(i));
      break;
    }
  }
  windows_.insert(windows_.begin(), moved);
  active_ = window;
  return TRUE;
}

HWND SimDesktop::FindByTitle(const std::string& title) {
  Refresh();
  for (const SimWindow& w : windows_) {
    if (w.title == title) return reinterpret_cast<HWND>(w.handle);
  }
  return nullptr;
}

bool SimDesktop::PressButton(HWND window) {
  SimWindow* w = Find(window);
  if (!w || w->button.empty()) return false;
  return PostMessage(window, kWmCommand, static_cast<WPARAM>(IDOK) | kBnClicked << 16, 0) != FALSE;
}
