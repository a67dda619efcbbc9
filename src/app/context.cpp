#include "app/context.h"

#include <cstdarg>

#include "app/setup_app.h"
#include "app/step_tables.h"

CComHolder::CComHolder(Machine& machine) : machine_(machine) { machine_.com().CoInitialize(); }

CComHolder::~CComHolder() { machine_.com().CoUninitialize(); }

CSetupContext::CSetupContext(CSetupApp& app)
    : childProcess(app.machine().processes()), app_(app), analysisSteps_(kAnalysisSteps) {
  setupDir = GetSetupDirectory(app.machine().environment());
  comHolder = std::make_unique<CComHolder>(app.machine());
}

CSetupContext::~CSetupContext() = default;

Machine& CSetupContext::machine() const { return app_.machine(); }

CInstallLog& CSetupContext::log() const { return app_.log(); }

void CSetupContext::Log(const char* format, ...) {
  va_list args;
  va_start(args, format);
  app_.log().LogV(format, args);
  va_end(args);
}

namespace {
// Stands in for the setup window before it exists (or after it is gone), so
// that a handler never reaches through an empty pointer.
class NoWindow : public SetupWindowOps {
 public:
  void SetText(int, int) override {}
  void SetConfirmText(int) override {}
  void SetCancelText(int) override {}
  void ShowConfirm(bool) override {}
  void ShowCancel(bool) override {}
  void SetPackageLine(const std::string&) override {}
};
NoWindow g_noWindow;

// The setup window of an unattended run: texts as usual, but its buttons stay
// hidden, since every wait is answered before anyone could press one. It
// forwards to whichever window the application holds at the time of a call.
class ButtonlessWindow : public SetupWindowOps {
 public:
  explicit ButtonlessWindow(CSetupApp& app) : app_(app) {}
  void SetText(int slot, int stringId) override { target().SetText(slot, stringId); }
  void SetConfirmText(int stringId) override { target().SetConfirmText(stringId); }
  void SetCancelText(int stringId) override { target().SetCancelText(stringId); }
  void ShowConfirm(bool show) override {
    if (!show) target().ShowConfirm(false);
  }
  void ShowCancel(bool show) override {
    if (!show) target().ShowCancel(false);
  }
  void SetPackageLine(const std::string& line) override { target().SetPackageLine(line); }
  void SetMessageText(const std::string& text) override { target().SetMessageText(text); }

 private:
  SetupWindowOps& target() {
    if (app_.m_pSetupWnd) return *app_.m_pSetupWnd;
    return g_noWindow;
  }
  CSetupApp& app_;
};
}  // namespace

SetupWindowOps& CSetupContext::window() const {
  if (app_.unattended().Active()) {
    if (!buttonlessWindow_) buttonlessWindow_ = std::make_unique<ButtonlessWindow>(app_);
    return *buttonlessWindow_;
  }
  if (app_.m_pSetupWnd) return *app_.m_pSetupWnd;
  return g_noWindow;
}

void CSetupContext::EndSetup(int exitCode) { app_.EndSetup(exitCode); }

std::string CSetupContext::GetText(int stringId) const { return app_.GetText(stringId); }
