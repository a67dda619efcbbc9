// Test support for the environment analysis: the setup application over a
// described machine with the demo medium mounted, without running start-up,
// so that one operation at a time can be called and its log lines, window
// calls and message boxes read back.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "analysis/analysis.h"
#include "app/context.h"
#include "app/setup_app.h"
#include "support/harness.h"
#include "ui/sim/sim_front_end.h"

// A setup window that records the window operations it is given.
class RecordingSetupWindow : public SetupWindow {
 public:
  struct Call {
    std::string op;
    int value;
    bool operator==(const Call&) const = default;
  };
  bool Create(BackgroundWindow&) override { return true; }
  void Show() override {}
  void Activate() override {}
  void Destroy() override {}
  void SetText(int slot, int stringId) override {
    calls.push_back({"SetText" + std::to_string(slot), stringId});
  }
  void SetConfirmText(int stringId) override { calls.push_back({"SetConfirmText", stringId}); }
  void SetCancelText(int stringId) override { calls.push_back({"SetCancelText", stringId}); }
  void ShowConfirm(bool show) override { calls.push_back({"ShowConfirm", show ? 1 : 0}); }
  void ShowCancel(bool show) override { calls.push_back({"ShowCancel", show ? 1 : 0}); }
  void SetPackageLine(const std::string&) override {}

  std::vector<Call> calls;
};

inline std::ostream& operator<<(std::ostream& out, const RecordingSetupWindow::Call& call) {
  return out << call.op << "(" << call.value << ")";
}

class AnalysisTest : public ::testing::Test {
 protected:
  // The default machine with `overlay` merged over it and the demo medium
  // mounted in the setup program's folder.
  void Boot(const std::string& overlay = "{}") {
    if (app_) app_->m_pSetupWnd = nullptr;
    app_.reset();
    frontEnd_.reset();
    window_.calls.clear();
    machine_ = MakeMachine(overlay);
    ASSERT_TRUE(machine_);
    frontEnd_ = std::make_unique<SimFrontEnd>(machine_->clock(), answers_);
    app_ = std::make_unique<CSetupApp>(*machine_, *frontEnd_);
    app_->m_pSetupWnd = &window_;
  }
  void TearDown() override {
    if (app_) app_->m_pSetupWnd = nullptr;
  }

  SimMachine& machine() { return *machine_; }
  SimFileSystem& files() { return machine_->simFiles(); }
  CSetupApp& app() { return *app_; }
  CSetupContext& context() { return app_->context(); }
  RecordingSetupWindow& window() { return window_; }

  // The log's messages so far, without timestamps and the section header.
  std::vector<std::string> Log() const {
    std::vector<std::string> messages;
    if (app_->log().g_strLogPath.empty()) return messages;
    std::optional<std::string> bytes = machine_->simFiles().Contents(app_->log().g_strLogPath);
    if (!bytes) return messages;
    for (const std::string& line : LogMessages(*bytes)) {
      if (line.rfind("-----", 0) == 0 || line.rfind("Zentavo Installation Log", 0) == 0) continue;
      messages.push_back(line);
    }
    return messages;
  }
  int Count(const std::string& line) const {
    int n = 0;
    for (const std::string& message : Log()) n += message == line ? 1 : 0;
    return n;
  }
  bool Logged(const std::string& line) const { return Count(line) > 0; }

  std::vector<ScreenEvent> MessageBoxes() const {
    std::vector<ScreenEvent> boxes;
    for (const ScreenEvent& event : frontEnd_->screen().events()) {
      if (event.kind == ScreenEvent::Kind::MessageBox) boxes.push_back(event);
    }
    return boxes;
  }

  // Replaces whatever is at `path` by a file object of the machine format.
  void ReplaceFile(const std::string& path, const std::string& object) {
    files().Remove(path);
    std::string error;
    ASSERT_TRUE(files().LoadEntry(path, SimJson::parse(object), "/files", &error)) << error;
  }

  std::optional<std::string> RegistryDefault(HKEY root, const std::string& path) {
    RegKey key(machine_->registry());
    if (key.Open(root, path, KEY_READ) != ERROR_SUCCESS) return std::nullopt;
    std::string text;
    if (key.QueryString("", MAX_PATH, &text) != ERROR_SUCCESS) return std::nullopt;
    return text;
  }

 private:
  std::unique_ptr<SimMachine> machine_;
  ListAnswers answers_;
  std::unique_ptr<SimFrontEnd> frontEnd_;
  RecordingSetupWindow window_;
  std::unique_ptr<CSetupApp> app_;
};

// Machine overlays of the Windows families, with their own directories.
inline std::string OsOverlay(int platformId, int major, int minor, long build,
                             const std::string& servicePack) {
  bool nt = platformId == 2;
  std::string windows = nt ? (major >= 5 && minor >= 1 ? "C:\\\\WINDOWS" : "C:\\\\WINNT")
                           : "C:\\\\WINDOWS";
  std::string system = windows + (nt ? "\\\\system32" : "\\\\SYSTEM");
  return R"({"os": {"platformId": )" + std::to_string(platformId) +
         R"(, "major": )" + std::to_string(major) + R"(, "minor": )" + std::to_string(minor) +
         R"(, "build": )" + std::to_string(build) + R"(, "servicePack": ")" + servicePack +
         R"("}, "directories": {"windows": ")" + windows + R"(", "system": ")" + system +
         R"("}, "files": {")" + system + R"(\\": {}}})";
}

// Merges machine overlays, later ones over earlier ones. Unlike a merge
// patch it keeps null members, which remove parts of the default machine.
inline void MergeInto(nlohmann::json& target, const nlohmann::json& overlay) {
  if (!target.is_object() || !overlay.is_object()) {
    target = overlay;
    return;
  }
  for (const auto& [name, value] : overlay.items()) {
    if (target.contains(name)) {
      MergeInto(target[name], value);
    } else {
      target[name] = value;
    }
  }
}
inline std::string Merge(std::initializer_list<std::string> overlays) {
  nlohmann::json merged = nlohmann::json::object();
  for (const std::string& overlay : overlays) MergeInto(merged, nlohmann::json::parse(overlay));
  return merged.dump();
}

// 9x build numbers as reported: major.minor in the high word.
constexpr long Build9x(int major, int minor, int build) {
  return (static_cast<long>(major) << 24) | (static_cast<long>(minor) << 16) | build;
}

inline std::string Windows95() { return OsOverlay(1, 4, 0, Build9x(4, 0, 950), ""); }
inline std::string Windows98() { return OsOverlay(1, 4, 10, Build9x(4, 10, 1998), ""); }
inline std::string Windows98SE() { return OsOverlay(1, 4, 10, Build9x(4, 10, 2222), " A "); }
inline std::string WindowsMe() { return OsOverlay(1, 4, 90, Build9x(4, 90, 3000), ""); }
inline std::string WindowsNT4(const std::string& servicePack = "Service Pack 6") {
  return OsOverlay(2, 4, 0, 1381, servicePack);
}
inline std::string Windows2000() { return OsOverlay(2, 5, 0, 2195, "Service Pack 4"); }
inline std::string WindowsXP() { return OsOverlay(2, 5, 1, 2600, "Service Pack 2"); }
