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
}  // namespace

SetupWindowOps& CSetupContext::window() const {
  if (app_.m_pSetupWnd) return *app_.m_pSetupWnd;
  return g_noWindow;
}

void CSetupContext::EndSetup(int exitCode) { app_.EndSetup(exitCode); }

std::string CSetupContext::GetText(int stringId) const { return app_.GetText(stringId); }
