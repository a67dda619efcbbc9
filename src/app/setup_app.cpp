#include "app/setup_app.h"

#include <cstdarg>
#include <cstring>
#include <iterator>

#include "actions/running_app.h"
#include "actions/finishing.h"
#include "actions/private_folders.h"
#include "app/exit_codes.h"
#include "app/step_tables.h"
#include "analysis/analysis.h"
#include "analysis/medium_check.h"
#include "lang/language_dlg.h"
#include "platform/owners.h"
#include "ui/resource_text.h"

namespace {

const char kRunKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kResumeValue[] = "ZenSetupSetup";
// The working buffer of the command line holds 511 characters and its terminator.
constexpr size_t kCommandLineBuffer = 512;

bool EqualsNoCase(const std::string& a, const char* b) {
  if (a.size() != strlen(b)) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// The decimal value of a token's leading digits, with an optional sign, as
// atoi reads it; 0 when there are none. Values beyond the 32-bit range are
// held at its ends instead of overflowing.
int LeadingNumber(const std::string& token) {
  size_t i = 0;
  bool negative = false;
  if (i < token.size() && (token[i] == '+' || token[i] == '-')) negative = token[i++] == '-';
  long long value = 0;
  for (; i < token.size() && token[i] >= '0' && token[i] <= '9'; ++i) {
    value = value * 10 + (token[i] - '0');
    if (value > 2147483648LL) value = 2147483648LL;
  }
  if (negative) value = -value;
  if (value > 2147483647LL) value = 2147483647LL;
  return static_cast<int>(value);
}

// The files every start-up uses before the window opens: checked at once,
// whole. The components' files (the Flash control, the XML parser, PSAPI)
// are used only by a machine that lacks them: they are checked right before
// they are copied (CheckMediumFilesBeforeUse), and otherwise with the rest,
// after the window has opened.
const char* const kStartupMediumFiles[] = {"setup.ini", "SetupLanguages.xml", "install.swf"};
// The rest is read in slices of this many bytes at most per timer call, and
// the timer comes back this soon while pieces remain; a slice also ends when
// it has taken this long (a slow disc), so the window keeps painting.
constexpr uint64_t kMediumSliceBytes = 2 * 1024 * 1024;
constexpr UINT kMediumSliceMs = 100;
constexpr UINT kMediumTimerMs = 10;

// Splits at spaces only; runs of spaces are one separator.
class Tokenizer {
 public:
  explicit Tokenizer(const std::string& text) : text_(text) {}
  bool Next(std::string* token) {
    while (pos_ < text_.size() && text_[pos_] == ' ') ++pos_;
    if (pos_ >= text_.size()) return false;
    size_t end = text_.find(' ', pos_);
    if (end == std::string::npos) end = text_.size();
    *token = text_.substr(pos_, end - pos_);
    pos_ = end;
    return true;
  }
  // The value of /log: a quoted value may hold spaces (the quotes are
  // dropped; one without its closing quote runs to the end of the line), an
  // unquoted one is the next token. False, consuming nothing, when nothing
  // follows or the next token is a switch. *atEnd when the value reached the
  // end of the text.
  bool NextValue(std::string* value, bool* atEnd) {
    size_t pos = pos_;
    while (pos < text_.size() && text_[pos] == ' ') ++pos;
    if (pos >= text_.size() || text_[pos] == '/') return false;
    size_t end;
    if (text_[pos] == '"') {
      size_t close = text_.find('"', pos + 1);
      end = close == std::string::npos ? text_.size() : close;
      *value = text_.substr(pos + 1, end - pos - 1);
      *atEnd = close == std::string::npos;
      pos_ = close == std::string::npos ? text_.size() : close + 1;
      return true;
    }
    end = text_.find(' ', pos);
    if (end == std::string::npos) end = text_.size();
    *value = text_.substr(pos, end - pos);
    *atEnd = end == text_.size();
    pos_ = end;
    return true;
  }
  // Everything after the separator that follows the last token, verbatim.
  std::string Rest() {
    while (pos_ < text_.size() && text_[pos_] == ' ') ++pos_;
    std::string rest = text_.substr(pos_);
    pos_ = text_.size();
    return rest;
  }

 private:
  const std::string& text_;
  size_t pos_ = 0;
};

}  // namespace

CSetupApp::CSetupApp(Machine& machine, FrontEnd& frontEnd)
    : machine_(machine),
      frontEnd_(frontEnd),
      log_(machine),
      strings_(machine.environment()),
      m_context(*this) {}

CSetupApp::~CSetupApp() = default;

int CSetupApp::Run() {
  if (!InitInstance()) return ExitInstance();
  int loopCode = frontEnd_.RunMessageLoop();
  // EndSetup and a closed setup window decide the code themselves; a loop
  // that ended in any other way carries the code it was posted with.
  if (!m_bExitCodeSet) m_nExitCode = loopCode;
  return ExitInstance();
}

void CSetupApp::SetExitCode(int exitCode) {
  m_nExitCode = exitCode;
  m_bExitCodeSet = 1;
}

int CSetupApp::ClosedWindowExitCode() const {
  if (m_context.failureShown) return kExitFailure;
  if (!m_context.productInstalled) return kExitUserCancel;
  return m_context.rebootRequired ? kExitRestartRequired : kExitSuccess;
}

void CSetupApp::ParseCommandLine(const std::string& commandLine) {
  m_bResume = 0;
  std::string line = commandLine.substr(0, kCommandLineBuffer - 1);
  const bool cut = commandLine.size() > line.size();
  Tokenizer tokens(line);
  std::string token;
  bool more = tokens.Next(&token);
  while (more) {
    if (EqualsNoCase(token, "/c")) {
      if (!tokens.Next(&token)) break;
      m_bResume = 1;
      m_nResumeStep = LeadingNumber(token);
    }
    if (EqualsNoCase(token, "/l")) {
      if (!tokens.Next(&token)) break;
      g_languageId = LeadingNumber(token);
    }
    if (EqualsNoCase(token, "/ct")) {
      std::string rest = tokens.Rest();
      if (!rest.empty()) {
        m_strCleanupDir = rest;
        m_bCleanup = 1;
        // A directory that ran past the working buffer would name another folder.
        m_bCleanupDirCut = cut ? 1 : 0;
      }
      break;
    }
    // The unattended switches, unknown to older setups, which ignored them.
    if (EqualsNoCase(token, "/quiet") || EqualsNoCase(token, "/q")) {
      m_unattended.SetQuiet();
    } else if (EqualsNoCase(token, "/passive")) {
      m_unattended.SetPassive();
    } else if (EqualsNoCase(token, "/norestart")) {
      m_unattended.SetNoRestart();
    } else if (EqualsNoCase(token, "/?")) {
      m_unattended.SetHelpRequested();
    } else if (EqualsNoCase(token, "/log")) {
      std::string path;
      bool atEnd = false;
      // A path that reached the cut of a long line may name another file.
      if (tokens.NextValue(&path, &atEnd)) m_unattended.SetLogFile(path, cut && atEnd);
    }
    more = tokens.Next(&token);
  }
}

bool CSetupApp::InitInstance() {
  frontEnd_.EnableControlHosting();

  // Read before anything changes: a request for the list of switches leaves
  // the resume value and the last log alone.
  ParseCommandLine(machine_.environment().CommandLineArguments());
  if (m_unattended.HelpRequested()) {
    ShowUsage();
    SetExitCode(kExitSuccess);
    return false;
  }
  if (m_unattended.LogFileGiven()) {
    log_.RequestLogFile(m_unattended.LogFile(), m_unattended.LogFileCut());
  }

  {
    RegKey run(machine_.registry());
    if (run.Open(HKEY_LOCAL_MACHINE, kRunKey, KEY_ALL_ACCESS) == ERROR_SUCCESS) {
      machine_.registry().DeleteValue(run.get(), kResumeValue);
    }
  }

  m_pMainWnd.reset();
  m_hrCoInitialize = machine_.com().CoInitialize();

  if (m_bCleanup) {
    log_.g_bLogAppend = 1;
    log_.Log("cleaning up %s\n", m_strCleanupDir.c_str());
    if (m_bCleanupDirCut) {
      log_.Log("clean-up directory is too long - nothing deleted\n");
      return false;
    }
    WaitForStartingSetup(m_context, m_strCleanupDir);
    DeleteDirectoryTree(m_context, m_strCleanupDir);
    RemoveEmptiedFolder(m_context, m_strCleanupDir);
    RemoveCleanerAtRestart(m_context);
    RepeatExitCodeLine();
    return false;
  }

  if (m_bResume) {
    log_.g_bLogAppend = 1;
    log_.Log("continuing setup after reboot\n");
    m_context.resumeStep = m_nResumeStep;
  }
  m_unattended.LogMode(log_);

  if (!BeginMediumCheck()) {
    SetExitCode(kExitFailure);
    return false;
  }

  m_context.ReadPackageInfo();

  std::string ieVersion = GetIEVersion(machine_);
  log_.Log("installed IE version is %s\n", ieVersion.empty() ? "pre 4.x" : ieVersion.c_str());
  if (ieVersion.empty() || CompareVersions(ieVersion, "4.71", false) < 0) {
    log_.Log("IE 4 or later required - aborting setup\n");
    MessageBox(frontEnd_.LoadResourceString(157), MB_OK | MB_ICONSTOP);
    SetExitCode(kExitFailure);
    return false;
  }

  if (!UpdateFlashControl(m_context)) {
    if (m_bMediumDamaged) {
      SetExitCode(kExitFailure);
      return false;
    }
    log_.Log("failed to update Flash OCX - continuing install anyway\n");
  }
  if (!UpdateXmlParser(m_context)) {
    // A damaged medium has been reported in its own words.
    if (!m_bMediumDamaged) log_.Log("failed to update XML parser library - aborting install\n");
    SetExitCode(kExitFailure);
    return false;
  }

  LoadLanguageFile(strings_, machine_, log_);

  if (!UpdatePsapi(m_context)) {
    // A damaged medium has been reported in its own words.
    if (!m_bMediumDamaged) log_.Log("failed to update PSAPI lib for NT - aborting install\n");
    SetExitCode(kExitFailure);
    return false;
  }

  g_languageId = LanguageForThisSystem(g_languageId, machine_.environment(), log_);
  if (m_unattended.Active()) {
    CLanguageDlg dialog(machine_.environment(), log_);
    g_languageId = m_unattended.ChooseLanguage(g_languageId, dialog, log_);
  } else if (g_languageId == 0) {
    CLanguageDlg dialog(machine_.environment(), log_);
    if (!frontEnd_.RunLanguageDialog(dialog)) {
      SetExitCode(kExitUserCancel);
      return false;
    }
    g_languageId = dialog.m_nLanguageId;
  }
  log_.Log("Install language=%d %s\n", g_languageId, LanguageKeyName(g_languageId));

  m_pMainWnd = frontEnd_.NewBackgroundWindow(*this);
  if (!m_pMainWnd->Create()) {
    m_pMainWnd.reset();
    SetExitCode(kExitFailure);
    return false;
  }
  // Quiet: the windows exist, hidden, to carry the timer and the step texts.
  if (!m_unattended.Quiet()) m_pMainWnd->Show();
  return true;
}

int CSetupApp::ExitInstance() {
  // A check cut short by a closed window lets go of the file it was reading.
  m_mediumCheck.reset();
  if (m_pMainWnd) {
    m_pMainWnd->Destroy();
    m_pMainWnd.reset();
    m_pSetupWnd = nullptr;
    m_pSetupWndObject.reset();
  }
  // Start-up's own CoInitialize is balanced here; the context balances its own.
  if (SUCCEEDED(m_hrCoInitialize)) machine_.com().CoUninitialize();
  m_hrCoInitialize = E_FAIL;
  // A deployment reads how an unattended run ended from its log's last line.
  // The list of switches (/?) leaves the log alone.
  if (m_unattended.Active() && !m_unattended.HelpRequested()) {
    log_.Log("unattended: exit code %d\n", m_nExitCode);
  }
  return m_nExitCode;
}

void CSetupApp::OnWindowCreated(AppWindow* window) {
  if (window != nullptr && window == m_pMainWnd.get()) {
    log_.Log("background created\n");
    m_pSetupWndObject = frontEnd_.NewSetupWindow(*this);
    m_pSetupWnd = m_pSetupWndObject.get();
    if (m_pSetupWnd->Create(*m_pMainWnd)) {
      if (!m_unattended.Quiet()) m_pSetupWnd->Show();
      m_pSetupWnd->SetPackageLine(m_context.FormatPackageDescription());
    }
  } else if (window != nullptr && window == m_pSetupWnd) {
    StartStepTimer();
  }
}

void CSetupApp::OnWindowDestroyed(AppWindow* window) {
  if (window != nullptr && window == m_pSetupWnd) {
    log_.Log("welcome wnd closed\n");
    // Closed by the user, not by the end of the setup.
    if (!m_bTerminating) SetExitCode(ClosedWindowExitCode());
    m_bTerminating = 1;
    // A tick already armed must not run a step on a window that is gone.
    StopStepTimer();
  }
}

void CSetupApp::RepeatExitCodeLine() {
  static const char kExitCodeLine[] = "unattended: exit code ";
  std::string text;
  if (log_.g_strLogPath.empty() ||
      machine_.files().ReadFile(log_.g_strLogPath, &text) != ERROR_SUCCESS) {
    return;
  }
  const size_t at = text.rfind(kExitCodeLine);
  if (at == std::string::npos) return;
  const size_t end = text.find_first_of("\r\n", at);
  const std::string code = text.substr(at + sizeof(kExitCodeLine) - 1,
                                       end == std::string::npos ? std::string::npos
                                                                : end - at - sizeof(kExitCodeLine) + 1);
  // Written by the run that started this copy, with this copy's lines after it.
  if (end != std::string::npos && text.find_first_not_of("\r\n", end) != std::string::npos) {
    log_.Log("%s%s\n", kExitCodeLine, code.c_str());
  }
}

bool CSetupApp::OnQueryEndSession() {
  log_.Log("OnQueryEndSession\n");
  if (m_bOwnRestartRequested) return true;
  m_context.rebootRequired = 1;
  return false;
}

void CSetupApp::OnEndSession(bool ending) {
  log_.Log("OnEndSession(%s)\n", ending ? "true" : "false");
  m_context.rebootRequired = 1;
}

bool CSetupApp::ActivateSetupWindow(AppWindow* clicked) {
  HWND installer = FindProductSetupWindow(m_context);
  if (installer != nullptr) {
    machine_.desktop().ActivateWindow(installer);
    return true;
  }
  if (m_pSetupWnd == nullptr || clicked == m_pSetupWnd) return false;
  m_pSetupWnd->Activate();
  return true;
}

void CSetupApp::StartStepTimer(UINT milliseconds) {
  if (m_nTimerId != 0) frontEnd_.KillTimer(m_nTimerId);
  m_nTimerId = frontEnd_.SetTimer(milliseconds, [this] { OnStepTimer(); });
}

void CSetupApp::StopStepTimer() {
  if (m_nTimerId != 0) frontEnd_.KillTimer(m_nTimerId);
  m_nTimerId = 0;
}

void CSetupApp::OnStepTimer() {
  StopStepTimer();
  if (m_bTerminating) return;
  if (m_mediumCheck && !ContinueMediumCheck()) return;
  int r = m_context.RunUpdateStep(0);
  if (r == 0) {
    if (m_unattended.Active() && !m_bTerminating) {
      AnswerWait();
      return;
    }
    log_.Log("waiting for input\n");
  } else if (!m_bTerminating) {
    StartStepTimer();
  }
}

// Each pass either moves the step on (the timer runs again), ends the setup,
// or waits again at the same step, which the second answer refuses: the
// loop ends after two passes at the most.
void CSetupApp::AnswerWait() {
  while (!m_bTerminating) {
    int exitCode = kExitFailure;
    int action = m_unattended.AnswerWait(m_context, &exitCode, log_);
    if (action == 0) {
      EndSetup(exitCode);
      return;
    }
    if (m_context.RunUpdateStep(action)) {
      if (!m_bTerminating) StartStepTimer();
      return;
    }
  }
}

bool CSetupApp::BeginMediumCheck() {
  m_mediumCheck = std::make_unique<CMediumCheck>(machine_.files(), m_context.setupDir);
  CMediumCheck::Result result = m_mediumCheck->Load();
  if (result == CMediumCheck::kNoManifest) {
    log_.Log("medium carries no manifest (%s) - its files are used unchecked\n",
             kMediumManifestName);
    m_mediumCheck.reset();
    return true;
  }
  if (result != CMediumCheck::kFailed) {
    log_.Log("medium manifest lists %u files\n",
             static_cast<unsigned>(m_mediumCheck->fileCount()));
    // What start-up copies from the medium is held against these digests.
    m_context.checkedMedium = m_mediumCheck->files();
    result = m_mediumCheck->CheckNow(kStartupMediumFiles, std::size(kStartupMediumFiles));
  }
  if (result == CMediumCheck::kFailed) {
    ReportDamagedMedium();
    return false;
  }
  return true;
}

bool CSetupApp::CheckMediumFilesBeforeUse(const char* const* names, size_t count) {
  if (m_bMediumDamaged) return false;
  if (!m_mediumCheck || m_mediumCheck->CheckNow(names, count) != CMediumCheck::kFailed) {
    return true;
  }
  ReportDamagedMedium();
  return false;
}

// One slice of the check per timer call. The first call that finds the
// check done lets the engine run its step in the same call, so a small
// medium costs no tick of its own.
bool CSetupApp::ContinueMediumCheck() {
  const DWORD start = machine_.environment().GetTickCount();
  CMediumCheck::Result result = CMediumCheck::kPending;
  for (uint64_t sliced = 0; result == CMediumCheck::kPending && sliced < kMediumSliceBytes;
       sliced += CMediumCheck::kPieceBytes) {
    result = m_mediumCheck->Continue(CMediumCheck::kPieceBytes);
    if (machine_.environment().GetTickCount() - start >= kMediumSliceMs) break;
  }
  if (result == CMediumCheck::kPending) {
    SetupWindowOps& window = m_context.window();
    window.SetText(0, ANALYZE);
    window.SetText(2, ANALYZEHELP);
    window.SetMessageText(m_mediumCheck->Progress());
    StartStepTimer(kMediumTimerMs);
    return false;
  }
  if (result == CMediumCheck::kFailed) {
    ReportDamagedMedium();
    EndSetup(kExitFailure);
    return false;
  }
  log_.Log("medium files match their manifest (%u files, %u KB read)\n",
           static_cast<unsigned>(m_mediumCheck->fileCount()),
           static_cast<unsigned>((m_mediumCheck->bytesRead() + 1023) / 1024));
  m_context.checkedMedium = m_mediumCheck->files();
  m_mediumCheck.reset();
  return true;
}

void CSetupApp::ReportDamagedMedium() {
  const CMediumCheck& check = *m_mediumCheck;
  const std::string& name = check.failedFile();
  if (check.badLine() != 0) {
    log_.Log("medium manifest line %u does not parse\n", static_cast<unsigned>(check.badLine()));
  }
  if (check.failedError() == 0) {
    log_.Log("medium file %s is damaged\n", name.c_str());
  } else {
    log_.Log("medium file %s cannot be read - error %u\n", name.c_str(),
             static_cast<unsigned>(check.failedError()));
  }
  if (m_context.mediumChanges.empty()) {
    log_.Log("nothing was changed with files of the medium\n");
  }
  for (const std::string& change : m_context.mediumChanges) {
    log_.Log("already changed with a file of the medium: %s\n", change.c_str());
  }
  std::string text = frontEnd_.LoadResourceString(kIdsMediumDamaged);
  const size_t slot = text.find("%s");
  if (slot != std::string::npos) text.replace(slot, 2, name);
  MessageBox(text, MB_OK | MB_ICONSTOP);
  m_mediumCheck.reset();
  m_bMediumDamaged = true;
}

void CSetupApp::ShowUsage() {
  if (m_unattended.Quiet()) return;
  frontEnd_.MessageBox(frontEnd_.LoadResourceString(kIdsUsage), MessageBoxCaption(),
                       MB_OK | MB_ICONINFORMATION);
}

void CSetupApp::OnConfirm() {
  if (m_context.RunUpdateStep(1)) StartStepTimer();
}

void CSetupApp::OnCancel() {
  if (m_context.RunUpdateStep(2)) StartStepTimer();
}

void CSetupApp::EndSetup(int exitCode) {
  log_.Log("setup terminating\n");
  StopStepTimer();
  m_bTerminating = 1;
  SetExitCode(exitCode);
  frontEnd_.PostQuitMessage(exitCode);
}

std::string CSetupApp::GetText(int stringId) const { return strings_.GetText(stringId, g_languageId); }

std::string CSetupApp::MessageBoxCaption() const {
  std::string path;
  if (machine_.environment().GetModuleFileName(&path) != ERROR_SUCCESS) return std::string();
  size_t slash = path.rfind('\\');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  size_t dot = name.rfind('.');
  if (dot != std::string::npos) name.resize(dot);
  return name;
}

int CSetupApp::MessageBox(const std::string& text, UINT type) {
  // Unattended, no box waits for a button: its text goes to the log.
  if (m_unattended.Active()) return m_unattended.AnswerMessageBox(text, type, log_);
  return frontEnd_.MessageBox(text, MessageBoxCaption(), type);
}

// ---- The setup context's side of the application: what its handlers reach ----

CSetupContext::CSetupContext(CSetupApp& app)
    : childProcess(app.machine().processes()), app_(app), analysisSteps_(kAnalysisSteps) {
  setupDir = GetSetupDirectory(app.machine().environment());
  comHolder = std::make_unique<CComHolder>(app.machine());
}

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

int CSetupContext::languageId() const { return app_.g_languageId; }

int CSetupContext::MessageBox(const std::string& text, UINT type) {
  return app_.MessageBox(text, type);
}

CUnattended& CSetupContext::unattended() const { return app_.unattended(); }

void CSetupContext::SetOwnRestartRequested(bool requested) {
  app_.SetOwnRestartRequested(requested);
}
